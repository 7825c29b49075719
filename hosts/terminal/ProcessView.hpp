#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "quillo/widget/ProcessTable.hpp"
#include "terminal/TerminalPanel.hpp"

namespace quillo {

// A key as the terminal sends it: a character (its UTF-8), or one of the keys that
// arrive as escape sequences or controls.
struct Key {
    enum Kind { character, up, down, pageUp, pageDown, home, end, escape, enter, backspace, other };
    Kind kind = other;
    std::string text;
};
// The keys in what one read gave. An escape with nothing after it in the same read is
// the Esc key: terminals send a sequence in one write.
std::vector<Key> parseKeys(std::string_view bytes);

// The table of processes under the panel, and the keys that work it: sorting, a
// filter typed after "/", a highlighted line moved by the arrows, and k or K then y to
// end the highlighted process.
class ProcessView {
  public:
    struct Texts {
        std::string browse = "c m n N sort  / filter  k K signal  t close";
        std::string filtering = "Enter keep  Esc clear";
        std::string filter = "Filter: %s";
        std::string confirm = "Send %s to %d %s? y: yes, other keys: no";
        std::string sent = "%s sent to %d";
        std::string refused = "%s not sent to %d: %s";
    };
    // Sends a signal to the process that pid is while it started at startTime; 0 or errno.
    using Sender = std::function<int(std::int64_t pid, std::uint64_t startTime, int signal)>;

    ProcessView(ProcessTable& table, Sender send, Texts texts)
        : table_(table), send_(std::move(send)), texts_(std::move(texts)) {}

    bool isOpen() const { return table_.isOpen(); }
    void open();
    // The key's effect on the open view; false when the view leaves it to the panel.
    bool handle(const Key& key);

    // The view in height lines of at most width columns: the columns' titles, the
    // processes, a line for what a signal did, and the keys that work now.
    std::vector<std::string> lines(int width, int height, const TerminalStyle& style);

  private:
    enum class Mode { browse, filter, confirm };
    bool browse(const Key& key);
    void ask(int signal);
    void sendAsked();

    ProcessTable& table_;
    Sender send_;
    Texts texts_;
    Mode mode_ = Mode::browse;
    int signal_ = 0;
    std::int64_t pid_ = 0;
    std::uint64_t startTime_ = 0;
    std::string name_, message_;
    std::size_t page_ = 1;
};

}  // namespace quillo
