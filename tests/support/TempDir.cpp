#include "support/TempDir.hpp"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillo::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillo-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write(const std::filesystem::path& relative,
                                     std::string_view text) const {
    auto full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full;
}

FsRoot TempDir::roots() const {
    std::filesystem::create_directories(path_ / "proc");
    std::filesystem::create_directories(path_ / "sys");
    return {(path_ / "proc").string(), (path_ / "sys").string()};
}

std::string TempDir::rootOptions() const {
    const FsRoot root = roots();
    return " --procfs " + quoted(root.procfs) + " --sysfs " + quoted(root.sysfs);
}

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (const char c : text) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace quillo::test
