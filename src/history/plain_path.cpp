#include "plain_path.h"

static bool is_plain_path_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '.' || c == '_' || c == '-';
}

bool is_plain_path(const char *path, size_t max_length) {
    size_t length = 0;
    for (; path[length] != '\0'; ++length) {
        if (length == max_length || !is_plain_path_char(path[length]))
            return false;
    }
    return length > 0;
}
