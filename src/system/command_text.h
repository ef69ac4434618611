// Command lines and paths filled in from a template, in a fixed buffer, never truncated, and the
// paths that may stand in them unquoted.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decimal.h"

/// The characters of `text` before its NUL: `strlen` for texts joined at compile time.
constexpr size_t text_length(const char *text) {
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

/// The room `text_template` takes once filled, its NUL included: each "%s" by a word of at most
/// `word_length` characters, each "%d" by a number of at most `number_length` (see
/// `decimal_length`). For sizing a command's buffer at compile time from its template.
constexpr size_t filled_capacity(const char *text_template, size_t word_length,
                                 size_t number_length) {
    size_t capacity = 1;
    for (const char *at = text_template; *at != '\0'; ++at) {
        bool word = at[0] == '%' && at[1] == 's';
        bool number = at[0] == '%' && at[1] == 'd';
        if (word || number) {
            capacity += word ? word_length : number_length;
            ++at;
        } else {
            ++capacity;
        }
    }
    return capacity;
}

/// Writes `text_template` into `text` (`capacity` bytes, the final NUL included) with each "%d"
/// replaced by `number` in decimal (`write_decimal`), and each "%s" by the next of the
/// `word_count` `words` in turn. No other byte is special. Returns false, with `text` empty,
/// when the result does not fit or a "%s" has no word left: a text is never cut short.
bool fill_template(char *text, size_t capacity, const char *text_template, int64_t number,
                   const char *const *words, size_t word_count);

template <size_t capacity, size_t word_count>
bool fill_template(char (&text)[capacity], const char *text_template, int64_t number,
                   const char *const (&words)[word_count]) {
    return fill_template(text, capacity, text_template, number, words, word_count);
}

/// True when `path` is non-empty, at most `max_length` characters long, and made only of
/// letters, digits, '/', '.', '_' and '-': the shell then reads it as one word, unchanged.
/// The compiled-in paths all pass; a path that fails is never put into a command.
bool is_plain_path(const char *path, size_t max_length);
