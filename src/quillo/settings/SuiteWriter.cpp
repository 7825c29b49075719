#include "quillo/settings/SuiteWriter.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "quillo/platform/Io.hpp"
#include "quillo/platform/Text.hpp"
#include "quillo/settings/RefreshRate.hpp"
#include "quillo/settings/SettingsSuite.hpp"

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

SuiteText readSuite(const std::filesystem::path& path) {
    const SettingsFile file = readSettingsFile(path, SuiteText::maximumSize);
    switch (file.status) {
        case SettingsFile::Status::read:
            break;
        case SettingsFile::Status::missing:
            return SuiteText("{}\n");
        case SettingsFile::Status::failed:
            errno = file.error;
            throw SuiteError(systemError(path, "cannot read the settings"));
        case SettingsFile::Status::notRegular:
            throw SuiteError(describe(path, "is not a regular file; left alone"));
        case SettingsFile::Status::tooLarge:
            throw SuiteError(describe(path, "is larger than a settings file can be (" +
                                                std::to_string(SuiteText::maximumSize) +
                                                " bytes); left unchanged"));
    }
    try {
        return SuiteText(file.text);
    } catch (const SuiteError& e) {
        throw SuiteError(
            describe(path, std::string(e.what()) + "; left unchanged, fix or remove it"));
    }
}

namespace {

// The file a path names in the end, through any symbolic links.
std::filesystem::path finalTarget(std::filesystem::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) return path;
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) throw SuiteError(describe(path, "cannot follow the link: " + ec.message()));
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    throw SuiteError(describe(path, "is a loop of symbolic links"));
}

mode_t modeForNewFile() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// This writer's temporary files: "." + the suite's name + "." + six characters from
// mkstemp's alphabet + this suffix, a name no person gives a backup.
constexpr std::string_view temporarySuffix = ".quillo-partial";

bool isTemporaryOf(std::string_view name, const std::string& suite) {
    const std::string prefix = "." + suite + ".";
    if (name.size() != prefix.size() + 6 + temporarySuffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(temporarySuffix))
        return false;
    const std::string_view random = name.substr(prefix.size(), 6);
    return std::all_of(random.begin(), random.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

}  // namespace

void updateSuite(const std::filesystem::path& path, const std::function<void(SuiteText&)>& change) {
    const std::filesystem::path target = finalTarget(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw SuiteError(describe(folder, "cannot create the folder: " + ec.message()));

    // The folder itself is the lock, so no lock file is left behind.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) throw SuiteError(systemError(folder, "cannot open the folder"));
    while (::flock(dir.get(), LOCK_EX) != 0) {
        if (errno != EINTR) throw SuiteError(systemError(folder, "cannot lock the folder"));
    }
    // A temporary file written before this writer took the lock is a killed writer's:
    // the living ones hold the lock while theirs exist.
    struct timespec locked {};
    ::clock_gettime(CLOCK_REALTIME, &locked);
    const std::string name = target.filename().string();
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        struct stat st {};
        if (!isTemporaryOf(entry.path().filename().native(), name) ||
            ::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || st.st_mtim.tv_sec > locked.tv_sec ||
            (st.st_mtim.tv_sec == locked.tv_sec && st.st_mtim.tv_nsec >= locked.tv_nsec))
            continue;
        std::filesystem::remove(entry.path(), ec);
    }

    SuiteText suite = readSuite(target);
    const std::string before = suite.text();
    change(suite);
    if (suite.text() == before) return;  // nothing to write, not even a new file
    // What the readers would refuse is never written: the user could not even undo it.
    try {
        SuiteText{suite.text()};
    } catch (const SuiteError& e) {
        throw SuiteError(describe(target, std::string("the change would leave a file that ") +
                                              e.what() + "; left unchanged"));
    }

    mode_t mode = modeForNewFile();
    struct stat st {};
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) mode = st.st_mode & 07777;

    std::string temporary = (folder / ("." + name + ".XXXXXX")).string().append(temporarySuffix);
    Fd out(::mkostemps(temporary.data(), int(temporarySuffix.size()), O_CLOEXEC));
    if (out.get() < 0) throw SuiteError(systemError(folder, "cannot create a temporary file"));
    // Another user's file (edited with sudo, say) stays theirs where the writer may.
    if (existed && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        [[maybe_unused]] const int ignored = ::fchown(out.get(), st.st_uid, st.st_gid);
    }
    const bool written = ::fchmod(out.get(), mode) == 0 && writeAll(out.get(), suite.text()) &&
                         ::fsync(out.get()) == 0 && ::close(out.release()) == 0;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        const std::string message = systemError(target, "cannot write the settings");
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

double parsePercent(std::string_view text) {
    const auto value = wholeNumber(text);
    if (!value || *value < 0.0 || *value > 100.0) {
        throw SuiteError("a percentage is a number from 0 to 100 (0 turns the alert off), not \"" +
                         std::string(text) + "\"");
    }
    return *value;
}

std::string formatNumber(double value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("nan");
}

}  // namespace quillo
