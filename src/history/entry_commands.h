// The shell pipelines that append entries to the history file, and the buffers they fit in.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../system/command_text.h"
#include "messages.h"

/// The unit's history file. Every entry command appends to it with `cat >>`.
inline constexpr char default_history_path[] = "/home/Quarvane/History.txt";

/// A chunk of command output is what fits a 128-byte line buffer: at most 127 bytes.
inline constexpr size_t chunk_capacity = 128;
inline constexpr size_t max_chunk_length = chunk_capacity - 1;

/// The longest history path an entry command accepts.
inline constexpr size_t max_history_path_length = 255;

// An output entry is `echo` of the quoted chunk; a chunk holding a backslash is printed with
// `printf '%s\n'` instead, since `echo` may expand backslash sequences.
inline constexpr char output_entry_echo_prefix[] = "echo 'MO:  ";
inline constexpr char output_entry_printf_prefix[] = "printf '%s\\n' 'MO:  ";
inline constexpr char output_entry_suffix[] = "'  | cat >> ";

/// Each quote of a chunk is written as '\'' (close, escaped quote, reopen): four bytes.
inline constexpr size_t quoted_byte_max_length = 4;

inline constexpr size_t output_entry_command_capacity =
    (sizeof output_entry_printf_prefix - 1) + max_chunk_length * quoted_byte_max_length +
    (sizeof output_entry_suffix - 1) + max_history_path_length + 1;
static_assert(sizeof output_entry_printf_prefix >= sizeof output_entry_echo_prefix,
              "the printf prefix is the longer one the capacity is sized for");

// An outcome entry's pipeline: `sed` puts the entry's text (messages.h) after the line `date`
// prints, and the line is appended to the history.
inline constexpr char outcome_command_head[] = "date | sed -e 's/.*/&";
inline constexpr char outcome_command_tail[] = "/' | cat >> %s";

/// Whether `text` stays itself as a `sed` replacement inside single quotes: none of / & \ '
/// and no line end.
constexpr bool fits_sed_replacement(const char *text) {
    for (const char *at = text; *at != '\0'; ++at) {
        if (*at == '/' || *at == '&' || *at == '\\' || *at == '\'' || *at == '\n')
            return false;
    }
    return true;
}
static_assert(fits_sed_replacement(success_entry.text) && fits_sed_replacement(failure_entry.text),
              "each entry text is put into the pipeline as it is");

/// An outcome entry's template, its text joined at compile time: the head, the entry, the tail.
template <size_t capacity> struct outcome_template { char text[capacity]; };

constexpr size_t outcome_template_capacity(const run_message &entry) {
    return sizeof outcome_command_head - 1 + text_length(entry.text) + sizeof outcome_command_tail;
}

template <size_t capacity>
constexpr outcome_template<capacity> make_outcome_template(const run_message &entry) {
    outcome_template<capacity> made{};
    size_t end = 0;
    const char *const parts[] = {outcome_command_head, entry.text, outcome_command_tail};
    for (const char *part : parts) {
        for (const char *at = part; *at != '\0'; ++at)
            made.text[end++] = *at;
    }
    return made;
}

inline constexpr auto outcome_success_template =
    make_outcome_template<outcome_template_capacity(success_entry)>(success_entry);
inline constexpr auto outcome_failure_template =
    make_outcome_template<outcome_template_capacity(failure_entry)>(failure_entry);

/// The template filled with a unit number and the longest history path.
inline constexpr size_t outcome_entry_command_capacity = filled_capacity(
    outcome_failure_template.text, max_history_path_length, decimal_length(UINT16_MAX));
static_assert(sizeof outcome_failure_template >= sizeof outcome_success_template,
              "the failure template is the longer one the capacity is sized for");

/// Builds into `command` the pipeline that appends the output entry "MO:  <chunk>" and a line
/// end to `history_path`. `chunk` is `length` bytes (at most `max_chunk_length`) of any value:
/// each quote is escaped so the chunk stays one single-quoted word, NUL bytes (which no shell
/// argument can hold) are dropped, and nothing of the chunk is ever run. Returns false, with
/// `command` empty, when the chunk is too long or the history path is not a plain path of at
/// most `max_history_path_length` characters.
bool build_output_entry_command(const char *chunk, size_t length, const char *history_path,
                                char (&command)[output_entry_command_capacity]);

/// Builds into `command` the pipeline that appends the dated outcome entry of `unit_number` to
/// `history_path`, from the success or the failure template. Returns false, with `command`
/// empty, when the history path is not a plain path of at most `max_history_path_length`
/// characters.
bool build_outcome_entry_command(uint16_t unit_number, bool succeeded, const char *history_path,
                                 char (&command)[outcome_entry_command_capacity]);
