#include "user_account.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int uid_field = 2;
constexpr int gid_field = 3;

/// (uid_t)-1 names no one.
constexpr unsigned long largest_id = 0xFFFFFFFEUL;

/// A decimal number being read one character at a time: valid while it is non-empty, all
/// digits, and no larger than `largest_id`.
struct id_number {
    unsigned long value;
    int digits;
    bool valid;
};

void add_character(id_number &number, char c) {
    unsigned long digit = static_cast<unsigned long>(c - '0');
    if (c < '0' || c > '9' || number.value > (largest_id - digit) / 10) {
        number.valid = false;
        return;
    }
    number.value = number.value * 10 + digit;
    ++number.digits;
}

bool is_number(const id_number &number) {
    return number.valid && number.digits > 0;
}

/// Where the reader stands in a line of the user database.
struct account_line {
    int field;
    id_number uid;
    id_number gid;
};

constexpr account_line new_line = {0, {0, 0, true}, {0, 0, true}};

/// Whether the line read so far names `uid` with a group; leaves it in `group` when it does.
bool names_user(const account_line &line, uid_t uid, gid_t &group) {
    if (line.field < gid_field || !is_number(line.uid) || !is_number(line.gid) ||
        line.uid.value != static_cast<unsigned long>(uid))
        return false;
    group = static_cast<gid_t>(line.gid.value);
    return true;
}

} // namespace

bool find_primary_group(uid_t uid, gid_t &group, const char *account_file) {
    int fd = open(account_file, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool found = false;
    account_line line = new_line;
    char buffer[512];
    ssize_t count = 0;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        while (!found && (count = read(fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < count && !found; ++at) {
                char c = buffer[at];
                if (c == '\n') {
                    found = names_user(line, uid, group);
                    line = new_line;
                } else if (c == ':') {
                    ++line.field;
                } else if (line.field == uid_field) {
                    add_character(line.uid, c);
                } else if (line.field == gid_field) {
                    add_character(line.gid, c);
                }
            }
        }
        // The last line may lack its line end.
        found = found || (count == 0 && names_user(line, uid, group));
    }
    (void)close(fd);
    return found;
}
