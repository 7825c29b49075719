#include "settings/SuiteWriter.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/Io.hpp"
#include "platform/Text.hpp"
#include "settings/RefreshRate.hpp"
#include "settings/SettingsSuite.hpp"

namespace quillo {
namespace {

std::string describe(const std::filesystem::path& path, const std::string& problem) {
    return path.string() + ": " + problem;
}

std::string systemError(const std::filesystem::path& path, const char* action) {
    return describe(path, std::string(action) + ": " + std::strerror(errno));
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

std::optional<double> wholeNumber(std::string_view text) {
    text = trim(text);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

SuiteDocument loadSuite(const std::filesystem::path& path) {
    const int raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (raw < 0) {
        if (errno == ENOENT) return SuiteDocument::object();
        throw SuiteError(systemError(path, "cannot read the settings"));
    }
    Fd fd(raw);
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SuiteError(systemError(path, "cannot read the settings"));
        }
        if (n == 0) break;
        text.append(chunk, std::size_t(n));
        if (text.size() > SettingsSuite::maximumFileSize) {
            throw SuiteError(describe(path, "larger than a settings file can be; left unchanged"));
        }
    }
    SuiteDocument document;
    try {
        document = SuiteDocument::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw SuiteError(describe(path, std::string("not valid JSON (") + e.what() +
                                            "); left unchanged, fix or remove it"));
    }
    if (!document.is_object()) {
        throw SuiteError(
            describe(path, "holds JSON that is not an object; left unchanged, fix or remove it"));
    }
    return document;
}

void updateSuite(const std::filesystem::path& path,
                 const std::function<void(SuiteDocument&)>& change) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw SuiteError(describe(folder, "cannot create the folder: " + ec.message()));

    // The folder itself is the lock, so no lock file is left behind.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) throw SuiteError(systemError(folder, "cannot open the folder"));
    while (::flock(dir.get(), LOCK_EX) != 0) {
        if (errno != EINTR) throw SuiteError(systemError(folder, "cannot lock the folder"));
    }

    SuiteDocument document = loadSuite(path);
    change(document);
    const std::string text = document.dump(2) + "\n";

    mode_t mode = 0644;
    if (struct stat st{}; ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    Fd out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (out.get() < 0) throw SuiteError(systemError(folder, "cannot create a temporary file"));
    const bool written = ::fchmod(out.get(), mode) == 0 && writeAll(out.get(), text) &&
                         ::fsync(out.get()) == 0 && ::close(out.release()) == 0;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string message = systemError(path, "cannot write the settings");
        ::unlink(temporary.c_str());
        throw SuiteError(message + "; left unchanged");
    }
    ::fsync(dir.get());
}

double parseRefreshInterval(std::string_view text) {
    if (const auto rate = refreshRateNamed(trim(text))) return seconds(*rate);
    const auto value = wholeNumber(text);
    if (!value || *value < minimumRefreshInterval || *value > maximumRefreshInterval) {
        throw SuiteError(
            "RefreshRate takes fast (0.5 s), normal (1 s), slow (2 s), verySlow (5 s) "
            "or a number of seconds from " +
            formatNumber(minimumRefreshInterval) + " to " + formatNumber(maximumRefreshInterval) +
            ", not \"" + std::string(text) + "\"");
    }
    return *value;
}

std::vector<double> parseColor(std::string_view text) {
    const std::string_view t = trim(text);
    const auto refuse = [&](const std::string& why) {
        return SuiteError("a colour is r,g,b[,a] with components from 0 to 1, or #rrggbb[aa]; \"" +
                          std::string(text) + "\" " + why);
    };
    std::vector<double> components;
    if (!t.empty() && t.front() == '#') {
        const std::string_view hex = t.substr(1);
        if (hex.size() != 6 && hex.size() != 8) throw refuse("needs 6 or 8 hexadecimal digits");
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            unsigned byte = 0;
            const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, byte, 16);
            if (ec != std::errc{} || end != hex.data() + i + 2) {
                throw refuse("holds a character that is not a hexadecimal digit");
            }
            components.push_back(byte / 255.0);
        }
    } else {
        std::string_view rest = t;
        for (;;) {
            const auto comma = rest.find(',');
            const auto value = wholeNumber(rest.substr(0, comma));
            if (!value) throw refuse("holds a component that is not a number");
            if (*value < 0.0 || *value > 1.0) throw refuse("holds a component outside 0 to 1");
            components.push_back(*value);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (components.size() != 3 && components.size() != 4) {
            throw refuse("needs 3 or 4 components");
        }
    }
    if (components.size() == 3) components.push_back(1.0);
    return components;
}

std::string formatNumber(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("nan");
}

}  // namespace quillo
