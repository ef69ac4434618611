#include "user_account.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// The fields of a line of the user database that name its user and group.
constexpr int uid_field = 2;
constexpr int gid_field = 3;

/// (uid_t)-1 names no one.
constexpr unsigned long largest_id = 0xFFFFFFFEUL;

/// One of the two numbers of the line being read: its value so far, and whether it is (so far)
/// a plain decimal number no larger than `largest_id`, or still empty.
enum class number_state { empty, number, not_a_number };

struct line_numbers {
    int field;
    unsigned long value[2];
    number_state state[2];
};

constexpr line_numbers new_line = {0, {0, 0}, {number_state::empty, number_state::empty}};

void add_character(line_numbers &line, char c) {
    int which = line.field - uid_field;
    unsigned long digit = static_cast<unsigned long>(c - '0');
    unsigned long &value = line.value[which];
    number_state &state = line.state[which];
    if (digit > 9 || value > (largest_id - digit) / 10)
        state = number_state::not_a_number;
    if (state == number_state::not_a_number)
        return;
    value = value * 10 + digit;
    state = number_state::number;
}

} // namespace

bool find_primary_group(uid_t uid, gid_t &group, const char *account_file) {
    int fd = open(account_file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool found = false;
    bool at_end = fstat(fd, &info) != 0 || !S_ISREG(info.st_mode);
    line_numbers line = new_line;
    char buffer[512];
    while (!found && !at_end) {
        ssize_t count = read(fd, buffer, sizeof buffer - 1);
        if (count < 0)
            break;
        // The last line may lack its line end.
        at_end = count == 0;
        if (at_end)
            buffer[count++] = '\n';
        for (ssize_t at = 0; at < count && !found; ++at) {
            char c = buffer[at];
            if (c == '\n') {
                found = line.field >= gid_field && line.state[0] == number_state::number &&
                        line.state[1] == number_state::number &&
                        line.value[0] == static_cast<unsigned long>(uid);
                if (found)
                    group = static_cast<gid_t>(line.value[1]);
                line = new_line;
            } else if (c == ':') {
                ++line.field;
            } else if (line.field == uid_field || line.field == gid_field) {
                add_character(line, c);
            }
        }
    }
    (void)close(fd);
    return found;
}
