// The user database, as far as the history's writer needs it: a user's own group.
#pragma once

#include <sys/types.h>

/// The system's user database: lines of "name:password:uid:gid:gecos:home:shell".
inline constexpr char default_account_file[] = "/etc/passwd";

/// Finds the primary group of the user `uid` in `account_file`: the group of the first line whose
/// third field is `uid`, both fields plain decimal numbers. Returns false, with `group` untouched,
/// when no such line is found or the file is not a regular file that can be read. Never blocks
/// on what is at the path, and looks at no other name service.
bool find_primary_group(uid_t uid, gid_t &group, const char *account_file = default_account_file);
