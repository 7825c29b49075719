#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// The settings suite as text that the writer edits in place: a change replaces, adds
// or removes one key's member and leaves every other byte as it was, so keys that the
// writer does not know keep their numbers, order and layout, and an edit costs time in
// proportion to the file, whatever its nesting.
class SuiteText {
  public:
    // One member of the top-level object, by byte offsets into the text.
    struct Member {
        std::string key;  // decoded
        std::size_t keyBegin = 0, valueBegin = 0, valueEnd = 0;
    };

    // Checks the text: a JSON object, at most maximumSize bytes and maximumDepth levels
    // deep; throws SuiteError saying what is wrong otherwise. Text that is blank (an
    // empty file) is an empty suite.
    explicit SuiteText(std::string text);

    const std::string& text() const { return text_; }
    const std::vector<Member>& members() const { return members_; }
    std::string_view valueText(const Member& member) const {
        return std::string_view(text_).substr(member.valueBegin,
                                              member.valueEnd - member.valueBegin);
    }
    // The last member of that name, the one a reader takes; nullptr when there is none.
    const Member* find(std::string_view key) const;

    // Gives every member of that name the value (JSON text), or adds one at the end.
    void set(std::string_view key, std::string_view valueJson);
    // Removes every member of that name.
    void erase(std::string_view key);

    // A settings file larger than this is not one anyone wrote on purpose.
    static constexpr std::size_t maximumSize = 1 << 20;
    // Deeper than this, a file is refused untouched; reading it costs no recursion.
    static constexpr std::size_t maximumDepth = 10'000;

  private:
    void scan();

    std::string text_;
    std::vector<Member> members_;
    std::size_t open_ = 0, close_ = 0;  // the top-level braces
};

// JSON text of a number (shortest that reads back the same) and of a list of numbers.
std::string jsonNumber(double value);
std::string jsonNumbers(const std::vector<double>& values);

}  // namespace quillo
