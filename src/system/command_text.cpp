#include "command_text.h"

#include <string.h>

namespace {

/// Where the next byte goes, and whether everything so far has fitted with room for the NUL.
struct filled_text {
    char *next;
    char *end;
    bool fits;
};

void put(filled_text &text, const char *bytes, size_t count) {
    if (!text.fits || count >= static_cast<size_t>(text.end - text.next)) {
        text.fits = false;
        return;
    }
    memcpy(text.next, bytes, count);
    text.next += count;
}

void put_decimal(filled_text &text, uint16_t number) {
    char digits[max_decimal_digits];
    size_t count = 0;
    do {
        // The remainder from the quotient: the unit has no divide instruction, and a `%` brings
        // libgcc's division into its binary at -Os.
        unsigned value = number;
        unsigned quotient = value / 10U;
        digits[sizeof digits - 1 - count++] = static_cast<char>('0' + (value - quotient * 10U));
        number = static_cast<uint16_t>(quotient);
    } while (number != 0);
    put(text, digits + sizeof digits - count, count);
}

bool is_plain_path_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '.' || c == '_' || c == '-';
}

} // namespace

bool fill_template(char *text, size_t capacity, const char *text_template, uint16_t number,
                   const char *const *words, size_t word_count) {
    if (capacity == 0)
        return false;
    filled_text filled{text, text + capacity, true};
    size_t next_word = 0;
    for (const char *at = text_template; *at != '\0' && filled.fits; ++at) {
        if (at[0] == '%' && at[1] == 'd') {
            put_decimal(filled, number);
            ++at;
        } else if (at[0] == '%' && at[1] == 's') {
            filled.fits = next_word < word_count;
            if (filled.fits)
                put(filled, words[next_word], strlen(words[next_word]));
            ++next_word;
            ++at;
        } else {
            put(filled, at, 1);
        }
    }
    if (!filled.fits) {
        text[0] = '\0';
        return false;
    }
    *filled.next = '\0';
    return true;
}

bool is_plain_path(const char *path, size_t max_length) {
    size_t length = 0;
    for (; path[length] != '\0'; ++length) {
        if (length == max_length || !is_plain_path_char(path[length]))
            return false;
    }
    return length > 0;
}
