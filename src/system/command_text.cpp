#include "command_text.h"

#include <string.h>

#include "decimal.h"

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

bool is_plain_path_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '.' || c == '_' || c == '-';
}

} // namespace

bool fill_template(char *text, size_t capacity, const char *text_template, int64_t number,
                   const char *const *words, size_t word_count) {
    if (capacity == 0)
        return false;
    filled_text filled{text, text + capacity, true};
    size_t next_word = 0;
    for (const char *at = text_template; *at != '\0' && filled.fits; ++at) {
        if (at[0] == '%' && at[1] == 'd') {
            decimal_text digits;
            size_t length = write_decimal(number, digits);
            put(filled, digits, length);
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
