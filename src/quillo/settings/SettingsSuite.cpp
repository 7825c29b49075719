#include "quillo/settings/SettingsSuite.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

namespace quillo {
namespace {

// Streams the document once and keeps only what is stored under one top-level key,
// so a lookup builds no tree and a deeply nested value costs no recursion.
class KeyFinder final : public nlohmann::json_sax<nlohmann::json> {
  public:
    explicit KeyFinder(std::string_view key) : key_(key) {}

    std::optional<StoredValue> found;

    bool null() override { return scalar(false, 0.0); }
    bool boolean(bool) override { return scalar(false, 0.0); }
    bool number_integer(number_integer_t v) override { return scalar(true, double(v)); }
    bool number_unsigned(number_unsigned_t v) override { return scalar(true, double(v)); }
    bool number_float(number_float_t v, const string_t&) override { return scalar(true, v); }
    bool string(string_t& v) override {
        if (capturing_ && depth_ == 2 && found &&
            (found->kind == StoredValue::Kind::stringList ||
             (found->kind == StoredValue::Kind::numberList && found->numbers.empty()))) {
            found->kind = StoredValue::Kind::stringList;
            found->strings.push_back(std::move(v));
            return true;
        }
        if (capturing_ && depth_ == 1) {
            found = StoredValue{StoredValue::Kind::string, 0.0, {}, {std::move(v)}};
            return true;
        }
        return scalar(false, 0.0);
    }
    bool binary(binary_t&) override { return scalar(false, 0.0); }

    bool start_object(std::size_t) override {
        if (depth_ == 0) {
            depth_ = 1;
            return true;
        }
        return container();
    }
    bool end_object() override { return leave(); }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return false;  // the suite must be an object
        if (depth_ == 1 && capturing_) {
            found = StoredValue{StoredValue::Kind::numberList, 0.0, {}, {}};
            ++depth_;
            return true;
        }
        return container();
    }
    bool end_array() override { return leave(); }

    bool key(string_t& k) override {
        if (depth_ == 1) capturing_ = (k == key_);
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    bool scalar(bool isNumber, double value) {
        if (depth_ == 0) return false;
        if (capturing_ && depth_ == 1) {
            found =
                isNumber ? StoredValue{StoredValue::Kind::number, value, {}, {}} : StoredValue{};
        } else if (capturing_ && depth_ == 2 && found) {
            if (isNumber && found->kind == StoredValue::Kind::numberList) {
                found->numbers.push_back(value);
            } else {
                found->kind = StoredValue::Kind::other;
            }
        }
        return true;
    }

    bool container() {
        if (capturing_ && depth_ == 1) found = StoredValue{};
        if (capturing_ && depth_ == 2 && found) found->kind = StoredValue::Kind::other;
        ++depth_;
        return true;
    }

    bool leave() {
        --depth_;
        return true;
    }

    std::string_view key_;
    std::size_t depth_ = 0;
    bool capturing_ = false;
};

}  // namespace

std::string_view withNumbersInRange(std::string_view text, std::string& scratch) {
    std::string_view out = text;
    std::size_t copied = 0;  // of text, into scratch
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            if (c == '"') inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (c != '-' && (c < '0' || c > '9')) continue;
        const std::size_t end = text.find_first_not_of("0123456789+-.eE", i);
        const std::string_view token = text.substr(i, end - i);
        // Only an exponent or over 300 digits reach past double's range.
        if ((token.find_first_of("eE") != std::string_view::npos || token.size() > 300) &&
            !std::isfinite(std::strtod(std::string(token).c_str(), nullptr))) {
            scratch.append(text.substr(copied, i - copied)).append("null");
            copied = end == std::string_view::npos ? text.size() : end;
            out = scratch;
        }
        if (end == std::string_view::npos) break;
        i = end - 1;
    }
    if (copied == 0) return text;
    scratch.append(text.substr(copied));
    return scratch;
}

std::optional<StoredValue> parseSuiteValue(std::string_view json, std::string_view key) {
    if (json.find('\0') != std::string_view::npos) return std::nullopt;
    std::string scratch;
    json = withNumbersInRange(json, scratch);
    KeyFinder finder(key);
    const bool wellFormed = nlohmann::json::sax_parse(json.begin(), json.end(), &finder,
                                                      nlohmann::json::input_format_t::json, true);
    if (!wellFormed) return std::nullopt;
    return finder.found;
}

SettingsFile readSettingsFile(const std::filesystem::path& path, std::size_t limit) {
    SettingsFile file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.error = errno;
        file.status =
            errno == ENOENT ? SettingsFile::Status::missing : SettingsFile::Status::failed;
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        file.status = SettingsFile::Status::notRegular;
        return file;
    }
    // A regular file that returns less than was asked has ended: a settings file costs
    // one read, not two, on every look-up.
    constexpr std::size_t chunk = 4096;
    file.status = SettingsFile::Status::read;
    for (;;) {
        const std::size_t used = file.text.size();
        if (used > limit) {
            file.status = SettingsFile::Status::tooLarge;
            break;
        }
        file.text.resize(used + chunk);
        const ssize_t n = ::read(fd, file.text.data() + used, chunk);
        if (n < 0 && errno == EINTR) {
            file.text.resize(used);
            continue;
        }
        if (n < 0) {
            file.error = errno;
            file.status = SettingsFile::Status::failed;
            break;
        }
        file.text.resize(used + std::size_t(n));
        if (std::size_t(n) < chunk) break;
    }
    ::close(fd);
    if (file.text.size() > limit) file.status = SettingsFile::Status::tooLarge;
    if (file.status != SettingsFile::Status::read) file.text.clear();
    return file;
}

std::optional<StoredValue> SettingsSuite::objectForKey(std::string_view key) const {
    if (held_) return parseSuiteValue(*held_, key);
    const SettingsFile file = readSettingsFile(path_, maximumFileSize);
    if (file.status != SettingsFile::Status::read) return std::nullopt;
    return parseSuiteValue(file.text, key);
}

void SettingsSuite::hold() const {
    SettingsFile file = readSettingsFile(path_, maximumFileSize);
    held_ = file.status == SettingsFile::Status::read ? std::move(file.text) : std::string();
}

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return home;
}

std::filesystem::path defaultSuitePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::filesystem::path base =
        xdg && xdg[0] == '/' ? std::filesystem::path(xdg) : homeFolder() / ".config";
    return base / "quillo" / (std::string(suiteName) + ".json");
}

}  // namespace quillo
