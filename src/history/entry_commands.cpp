#include "entry_commands.h"

#include <string.h>

#include "history.h"

namespace {

/// A command being built in a fixed buffer that is known to be large enough for it.
struct command_text {
    char *buffer;
    size_t length;
};

void append_bytes(command_text &text, const char *bytes, size_t count) {
    memcpy(text.buffer + text.length, bytes, count);
    text.length += count;
}

template <size_t size> void append_literal(command_text &text, const char (&literal)[size]) {
    append_bytes(text, literal, size - 1);
}

/// Appends the chunk's bytes for use between single quotes: a quote becomes '\'' and a NUL is
/// dropped; every other byte is literal inside single quotes and is copied as it is.
void append_quoted_chunk(command_text &text, const char *chunk, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (chunk[i] == '\'')
            append_literal(text, "'\\''");
        else if (chunk[i] != '\0')
            append_bytes(text, &chunk[i], 1);
    }
}

bool holds_backslash(const char *chunk, size_t length) {
    return memchr(chunk, '\\', length) != nullptr;
}

} // namespace

bool build_output_entry_command(const char *chunk, size_t length, const char *history_path,
                                char (&command)[output_entry_command_capacity]) {
    command[0] = '\0';
    if (length > max_chunk_length || !is_plain_path(history_path, max_history_path_length))
        return false;

    command_text text{command, 0};
    if (holds_backslash(chunk, length))
        append_literal(text, output_entry_printf_prefix);
    else
        append_literal(text, output_entry_echo_prefix);
    append_quoted_chunk(text, chunk, length);
    append_literal(text, output_entry_suffix);
    append_bytes(text, history_path, strlen(history_path));
    command[text.length] = '\0';
    return true;
}

bool build_outcome_entry_command(uint16_t unit_number, bool succeeded, const char *history_path,
                                 char (&command)[outcome_entry_command_capacity]) {
    command[0] = '\0';
    if (!is_plain_path(history_path, max_history_path_length))
        return false;

    const char *entry_template =
        succeeded ? outcome_success_template.text : outcome_failure_template.text;
    const char *const paths[] = {history_path};
    return fill_template(command, entry_template, unit_number, paths);
}

void append_outcome_entry(uint16_t unit_number, bool succeeded, const history_log &log) {
    char command[outcome_entry_command_capacity];
    if (log.appends && build_outcome_entry_command(unit_number, succeeded, log.path, command))
        (void)run_shell(command, log.writer, log.entry_timeout_ms);
}
