// The shell pipelines that append entries to the history file, and the buffers they fit in.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../system/command_text.h"

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

inline constexpr char outcome_success_template[] =
    "date | sed -e 's/.*/& - UNIT_CFG of %d updated successfully./' | cat >> %s";
inline constexpr char outcome_failure_template[] =
    "date | sed -e 's/.*/& - UNIT_CFG of %d updated failed. Might not found the file./' | cat "
    ">> %s";

/// The template filled with a unit number and the longest history path.
inline constexpr size_t outcome_entry_command_capacity =
    filled_capacity(outcome_failure_template, max_history_path_length, decimal_length(UINT16_MAX));
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
