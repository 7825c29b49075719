#include "common/Autostart.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "quillo/platform/Io.hpp"
#include "quillo/settings/SettingsSuite.hpp"

namespace quillo {

std::filesystem::path autostartEntryPath() {
    // The suite lives in $XDG_CONFIG_HOME/quillo; autostart beside it.
    return defaultSuitePath().parent_path().parent_path() / "autostart" /
           (std::string(applicationId) + ".desktop");
}

std::string autostartEntry(const std::filesystem::path& program) {
    // Exec takes the program's full path: a login session's PATH may lack ~/.local/bin.
    // Readers undo three layers, outermost first: the string escapes of every value (so
    // each backslash is doubled), the quoting of an argument ("`$\ after a backslash),
    // and field codes (a literal % is %%).
    std::string quotedPath;
    for (const char c : program.string()) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quotedPath += '\\';
        quotedPath += c;
    }
    std::string exec;
    for (const char c : quotedPath) {
        switch (c) {
            case '\\':
                exec += "\\\\";
                break;
            case '\n':
                exec += "\\n";
                break;
            case '\t':
                exec += "\\t";
                break;
            case '\r':
                exec += "\\r";
                break;
            case '%':
                exec += "%%";
                break;
            default:
                exec += c;
        }
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillo\n"
           "Comment=A compact live panel of this machine\n"
           "Exec=\"" +
           exec +
           "\" --desktop\n"
           "Icon=" +
           applicationId +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool autostartEnabled() {
    const SettingsFile file = readSettingsFile(autostartEntryPath(), 1 << 16);
    if (file.status != SettingsFile::Status::read) return false;
    return file.text.find("\nHidden=true") == std::string::npos &&
           file.text.find("\nX-GNOME-Autostart-enabled=false") == std::string::npos;
}

void enableAutostart(const std::filesystem::path& program) {
    const std::filesystem::path path = autostartEntryPath();
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::string temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && writeAll(fd, autostartEntry(program)) && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(temporary.c_str());
        throw std::runtime_error(path.string() + ": cannot write the entry: " + why);
    }
}

void disableAutostart() {
    std::error_code ec;
    std::filesystem::remove(autostartEntryPath(), ec);
    if (ec) throw std::runtime_error(autostartEntryPath().string() + ": " + ec.message());
}

}  // namespace quillo
