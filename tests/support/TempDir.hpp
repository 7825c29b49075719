#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

}  // namespace quillo::test
