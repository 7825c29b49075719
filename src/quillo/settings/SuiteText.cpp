#include "quillo/settings/SuiteText.hpp"

#include <nlohmann/json.hpp>

#include "quillo/settings/SettingsSuite.hpp"
#include "quillo/settings/SuiteWriter.hpp"

namespace quillo {

namespace {

// Validates in one streaming pass, with nlohmann's parser, which keeps its nesting on a
// heap stack: a document a million levels deep costs memory, never the call stack.
class Checker final : public nlohmann::json_sax<nlohmann::json> {
  public:
    std::string problem;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return enter(); }
    bool end_object() override { return leave(); }
    bool start_array(std::size_t) override {
        if (depth_ == 0) return refuse("holds JSON that is not an object");
        return enter();
    }
    bool end_array() override { return leave(); }
    bool key(string_t&) override { return true; }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        return refuse(std::string("is not valid JSON (") + e.what() + ")");
    }

  private:
    bool value() { return depth_ > 0 || refuse("holds JSON that is not an object"); }
    bool enter() {
        if (++depth_ > SuiteText::maximumDepth) {
            return refuse("is nested deeper than " + std::to_string(SuiteText::maximumDepth) +
                          " levels");
        }
        return true;
    }
    bool leave() {
        --depth_;
        return true;
    }
    bool refuse(std::string why) {
        if (problem.empty()) problem = std::move(why);
        return false;
    }
    std::size_t depth_ = 0;
};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

SuiteText::SuiteText(std::string text) : text_(std::move(text)) {
    if (text_.size() > maximumSize) {
        throw SuiteError("is larger than a settings file can be (" + std::to_string(maximumSize) +
                         " bytes)");
    }
    if (text_.find_first_not_of(" \t\r\n") == std::string::npos) text_ = "{}\n";
    // The parser takes a NUL for the end of the input and would accept what follows.
    if (text_.find('\0') != std::string::npos) throw SuiteError("holds a NUL byte");
    std::string scratch;
    const std::string_view parsed = withNumbersInRange(text_, scratch);
    Checker checker;
    nlohmann::json::sax_parse(parsed.begin(), parsed.end(), &checker,
                              nlohmann::json::input_format_t::json, true);
    if (!checker.problem.empty()) throw SuiteError(checker.problem);
    scan();
}

// Finds the top-level members of text already known to be a valid JSON object.
void SuiteText::scan() {
    members_.clear();
    const std::string_view t = text_;
    std::size_t i = t.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    const auto skipBlanks = [&] {
        while (i < t.size() && blank(t[i])) ++i;
    };
    const auto skipString = [&] {  // from the opening quote to past the closing one
        for (++i; i < t.size() && t[i] != '"'; ++i) {
            if (t[i] == '\\') ++i;
        }
        ++i;
    };
    skipBlanks();
    open_ = i++;
    for (;;) {
        skipBlanks();
        if (i >= t.size() || t[i] == '}') break;
        if (t[i] == ',') {
            ++i;
            continue;
        }
        Member m;
        m.keyBegin = i;
        skipString();
        m.key = nlohmann::json::parse(t.substr(m.keyBegin, i - m.keyBegin)).get<std::string>();
        skipBlanks();
        ++i;  // the colon
        skipBlanks();
        m.valueBegin = i;
        if (t[i] == '"') {
            skipString();
        } else if (t[i] == '{' || t[i] == '[') {
            std::size_t depth = 0;
            do {
                if (t[i] == '"') {
                    skipString();
                    continue;
                }
                if (t[i] == '{' || t[i] == '[') ++depth;
                if (t[i] == '}' || t[i] == ']') --depth;
                ++i;
            } while (depth > 0 && i < t.size());
        } else {
            while (i < t.size() && !blank(t[i]) && t[i] != ',' && t[i] != '}') ++i;
        }
        m.valueEnd = i;
        members_.push_back(std::move(m));
    }
    close_ = i;
}

const SuiteText::Member* SuiteText::find(std::string_view key) const {
    const Member* found = nullptr;
    for (const Member& m : members_) {
        if (m.key == key) found = &m;
    }
    return found;
}

void SuiteText::set(std::string_view key, std::string_view valueJson) {
    bool replaced = false;
    // From the last member to the first, so that earlier offsets stay right.
    for (auto m = members_.rbegin(); m != members_.rend(); ++m) {
        if (m->key != key) continue;
        text_.replace(m->valueBegin, m->valueEnd - m->valueBegin, valueJson);
        replaced = true;
    }
    if (!replaced) {
        const std::string member =
            nlohmann::json(std::string(key)).dump() + ": " + std::string(valueJson);
        // New lines end as the file's own do.
        const std::string newline = text_.find("\r\n") != std::string::npos ? "\r\n" : "\n";
        if (members_.empty()) {
            text_.replace(open_ + 1, close_ - open_ - 1, newline + "  " + member + newline);
        } else {
            // The new member goes on a line of its own with the last one's indentation, or
            // on the same line in a file written on one line.
            const Member& last = members_.back();
            const std::size_t lineStart = text_.rfind('\n', last.keyBegin);
            const bool ownLine = lineStart != std::string::npos &&
                                 text_.find_first_not_of(" \t", lineStart + 1) == last.keyBegin;
            const std::string separator =
                ownLine ? "," + newline + text_.substr(lineStart + 1, last.keyBegin - lineStart - 1)
                        : ", ";
            text_.insert(last.valueEnd, separator + member);
        }
    }
    scan();
}

void SuiteText::erase(std::string_view key) {
    for (;;) {
        std::size_t index = members_.size();
        for (std::size_t i = 0; i < members_.size(); ++i) {
            if (members_[i].key == key) index = i;
        }
        if (index == members_.size()) return;
        const Member& m = members_[index];
        if (index > 0) {
            // From the end of the member before, its comma included.
            const std::size_t from = members_[index - 1].valueEnd;
            text_.erase(from, m.valueEnd - from);
        } else if (members_.size() > 1) {
            text_.erase(m.keyBegin, members_[1].keyBegin - m.keyBegin);
        } else {
            text_.replace(open_ + 1, close_ - open_ - 1, "");
        }
        scan();
    }
}

std::string jsonNumber(double value) {
    return nlohmann::json(value).dump();
}

std::string jsonNumbers(const std::vector<double>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += ", ";
        text += jsonNumber(values[i]);
    }
    return text + "]";
}

}  // namespace quillo
