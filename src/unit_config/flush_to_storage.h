// Making a file that another process wrote survive a power cut.
#pragma once

/// Flushes the data of the file at `path` to storage (opened read-only, `fsync`ed, closed), then
/// the directory that holds it, so that a file just created is not lost with its directory
/// entry. Silent: a file or directory that cannot be opened or flushed changes nothing else.
/// Never writes, creates or truncates anything.
void flush_to_storage(const char *path);
