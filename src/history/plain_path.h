// Paths that may stand unquoted in a shell command line.
#pragma once

#include <stddef.h>

/// True when `path` is non-empty, at most `max_length` characters long, and made only of
/// letters, digits, '/', '.', '_' and '-': the shell then reads it as one word, unchanged.
/// The compiled-in paths all pass; a path that fails is never put into a command.
bool is_plain_path(const char *path, size_t max_length);
