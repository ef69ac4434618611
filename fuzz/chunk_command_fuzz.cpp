// Fuzz target: any chunk of up to 127 bytes, made into its output-entry command. The command is
// parsed back as a POSIX shell would read it; properties: it fits its buffer, the logged word is
// exactly "MO:  " and the chunk without its NULs, nothing else is unquoted but the fixed
// pipeline, and printf stands in for echo exactly when the chunk holds a backslash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "history/entry_commands.h"
#include "history/history.h"

namespace {

void require(bool holds, const char *property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

bool starts_with(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

/// Reads one shell word at `pos` made of single-quoted strings and backslash-escaped
/// characters. Any other unquoted character but the blank that ends the word breaks the
/// property. Leaves `pos` at the blank (or the end).
std::string parse_word(const std::string &command, std::size_t &pos) {
    std::string word;
    while (pos < command.size() && command[pos] != ' ') {
        char c = command[pos];
        if (c == '\'') {
            std::size_t close = command.find('\'', pos + 1);
            require(close != std::string::npos, "every single quote is closed");
            word.append(command, pos + 1, close - pos - 1);
            pos = close + 1;
        } else if (c == '\\') {
            require(pos + 1 < command.size(), "a backslash escapes a character");
            word += command[pos + 1];
            pos += 2;
        } else {
            require(false, "no unquoted character inside the logged word");
        }
    }
    return word;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > max_chunk_length)
        return -1;
    const char *chunk = reinterpret_cast<const char *>(data);
    char buffer[output_entry_command_capacity];
    std::memset(buffer, 'X', sizeof buffer);
    require(build_output_entry_command(chunk, size, default_history_path, buffer),
            "every chunk up to 127 bytes is accepted");
    require(std::memchr(buffer, '\0', sizeof buffer) != nullptr, "the command fits its buffer");
    const std::string command(buffer);

    const bool has_backslash = std::memchr(chunk, '\\', size) != nullptr;
    const std::string prefix = has_backslash ? "printf '%s\\n' " : "echo ";
    require(starts_with(command, prefix), "printf exactly for chunks with a backslash");

    std::size_t pos = prefix.size();
    std::string expected = "MO:  ";
    for (std::size_t i = 0; i < size; ++i) {
        if (chunk[i] != '\0')
            expected += chunk[i];
    }
    require(parse_word(command, pos) == expected, "the logged word is the chunk, NULs dropped");
    require(command.substr(pos) == std::string("  | cat >> ") + default_history_path,
            "only the fixed pipeline follows the word");
    return 0;
}
