#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "quillo/platform/linux/FileReader.hpp"

namespace quillo::test {

// A fresh folder removed with everything in it when the test ends.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::filesystem::path& relative, std::string_view text) const;
    // The folder as a procfs and sysfs tree (proc/ and sys/, made if missing), as the
    // library takes it and as the programs' options.
    FsRoot roots() const;
    std::string rootOptions() const;

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
// Single-quoted for the shell.
std::string quoted(const std::string& text);

}  // namespace quillo::test
