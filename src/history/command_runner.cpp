#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "entry_commands.h"
#include "history.h"
#include "messages.h"

namespace {

// A Thumb build takes its one signal in ARM state all the same: a unit's kernel built without
// support for Thumb programs (CONFIG_ARM_THUMB off) enters every handler in ARM state.
#if defined(__arm__) && defined(__thumb__)
#define ARM_STATE_HANDLER __attribute__((target("arm")))
#else
#define ARM_STATE_HANDLER
#endif

extern "C" ARM_STATE_HANDLER void on_broken_pipe(int) {}

/// Messages are flushed at once so they keep their place beside the shell's own complaints
/// when standard output and standard error go to one log.
void report(const char *message) {
    survive_broken_pipe();
    (void)puts(message);
    (void)fflush(stdout);
}

/// The command's output as it arrives, cut into chunks: the bytes up to and including a
/// newline, or `max_chunk_length` bytes, or what is left at the end.
struct output_reader {
    char bytes[2 * chunk_capacity];
    size_t start;
    size_t end;
    bool ended; ///< the end of the output, a read error or the deadline
};

/// Moves the next chunk into `chunk` and returns its length (NUL bytes counted); 0 once the
/// output has ended and nothing is left. Waits for more output at most until `deadline`.
size_t next_chunk(output_reader &reader, const shell_child &child, int64_t deadline,
                  char (&chunk)[chunk_capacity]) {
    for (;;) {
        size_t held = reader.end - reader.start;
        const char *held_bytes = reader.bytes + reader.start;
        const void *newline = memchr(held_bytes, '\n', held);
        size_t length =
            newline != nullptr
                ? static_cast<size_t>(static_cast<const char *>(newline) - held_bytes) + 1
                : held;
        if (length > max_chunk_length)
            length = max_chunk_length;
        if (newline != nullptr || length == max_chunk_length || (reader.ended && length > 0)) {
            memcpy(chunk, held_bytes, length);
            chunk[length] = '\0';
            reader.start += length;
            return length;
        }
        if (reader.ended)
            return 0;
        // What is held (less than a chunk) moves to the front once it cannot overlap its new
        // place; until then there is room behind it.
        if (reader.start >= held) {
            memcpy(reader.bytes, held_bytes, held);
            reader.start = 0;
            reader.end = held;
        }
        ssize_t count = read_child_output(child, reader.bytes + reader.end,
                                          sizeof reader.bytes - reader.end, deadline);
        if (count > 0)
            reader.end += static_cast<size_t>(count);
        else
            reader.ended = true;
        // Past the deadline (or on an error) what is left is not logged.
        if (count < 0)
            reader.start = reader.end;
    }
}

/// Appends one output entry. Returns how long it took: the command's deadline does not count
/// the time its entries take, each of which has a deadline of its own.
int64_t append_output_entry(const char *chunk, size_t length, const history_log &log) {
    int64_t started = monotonic_ms();
    char command[output_entry_command_capacity];
    if (log.appends && build_output_entry_command(chunk, length, log.path, command))
        (void)run_shell(command, log.writer, log.entry_timeout_ms);
    return monotonic_ms() - started;
}

} // namespace

void survive_broken_pipe() {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return;
    struct sigaction action {};
    action.sa_handler = on_broken_pipe;
    (void)sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(SIGPIPE, &action, nullptr);
}

void report_command_failure() {
    report(command_failure_message.text);
}

int run_logged_command(const char *command, const history_log &log, int64_t timeout_ms) {
    int64_t deadline = monotonic_ms() + timeout_ms;
    shell_child child{-1, -1};
    if (!start_shell(command, run_as_self, true, child)) {
        report(pipe_error_message.text);
        return -1;
    }

    // Each entry's pipeline has finished before the next chunk is read, so entries keep the
    // order of the output.
    output_reader reader{{}, 0, 0, false};
    char chunk[chunk_capacity];
    size_t length = next_chunk(reader, child, deadline, chunk);
    while (length > 0) {
        deadline += append_output_entry(chunk, length, log);
        length = next_chunk(reader, child, deadline, chunk);
    }

    if (!ended_well(finish_shell(child, deadline))) {
        report(command_failure_message.text);
        return -1;
    }
    return 0;
}
