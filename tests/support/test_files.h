// Test support: a private temporary directory, and whole files as byte strings.
#pragma once

#include <string>

/// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    /// The path of `name` inside the directory.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

bool file_exists(const std::string &path);
/// The file's bytes; "<missing>" when it cannot be opened.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
