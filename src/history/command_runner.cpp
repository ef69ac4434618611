#include <stdio.h>
#include <stdlib.h>

#include "entry_commands.h"
#include "history.h"

namespace {

constexpr char pipe_error_message[] = "Error opening pipe!";
constexpr char command_error_message[] = "Command not found or exited with error status";

/// Messages are flushed at once so they keep their place beside the shell's own complaints
/// when standard output and standard error go to one log.
void report(const char *message) {
    (void)puts(message);
    (void)fflush(stdout);
}

/// Reads the next chunk of `output` into `chunk`: the bytes up to and including the next
/// newline, or `max_chunk_length` bytes, or what is left at the end. Returns its length, which
/// counts NUL bytes too; 0 at the end of the output or on a read error.
size_t read_chunk(FILE *output, char (&chunk)[chunk_capacity]) {
    size_t length = 0;
    while (length < max_chunk_length) {
        int c = getc(output);
        if (c == EOF)
            break;
        chunk[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    chunk[length] = '\0';
    return length;
}

void append_output_entry(const char *chunk, size_t length, const char *history_path) {
    char command[output_entry_command_capacity];
    if (build_output_entry_command(chunk, length, history_path, command))
        (void)system(command);
}

} // namespace

int run_logged_command(const char *command, const char *history_path) {
    FILE *output = popen(command, "r");
    if (output == nullptr) {
        report(pipe_error_message);
        return -1;
    }

    // Each entry's pipeline has finished before the next chunk is read, so entries keep the
    // order of the output.
    char chunk[chunk_capacity];
    size_t length = read_chunk(output, chunk);
    while (length > 0) {
        append_output_entry(chunk, length, history_path);
        length = read_chunk(output, chunk);
    }

    if (pclose(output) != 0) {
        report(command_error_message);
        return -1;
    }
    return 0;
}
