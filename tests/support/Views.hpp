#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quillo/ui/ProgressBar.hpp"
#include "quillo/widget/OutletViews.hpp"

namespace quillo::test {

// A label that also notes each write, by outlet name, in a shared journal.
class JournalTextField final : public TextField {
  public:
    JournalTextField(std::string name, std::shared_ptr<std::vector<std::string>> journal)
        : name_(std::move(name)), journal_(std::move(journal)) {}
    void setStringValue(std::string text) override {
        journal_->push_back(name_);
        text_ = std::move(text);
    }
    std::string stringValue() const override { return text_; }

  private:
    std::string name_;
    std::shared_ptr<std::vector<std::string>> journal_;
    std::string text_;
};

// The fifteen views of the interface file, in memory; with a journal of every write
// unless a long run would make it grow without end.
class Views final : public ViewTree {
  public:
    std::shared_ptr<std::vector<std::string>> journal =
        std::make_shared<std::vector<std::string>>();

    explicit Views(bool journaled = true)
        : views_(journaled
                     ? OutletViews(
                           [j = journal](std::string_view name) {
                               return std::make_shared<ProgressBar>(
                                   [j, n = std::string(name)] { j->push_back(n); });
                           },
                           [j = journal](std::string_view name) {
                               return std::make_shared<JournalTextField>(std::string(name), j);
                           })
                     : OutletViews()) {}

    std::shared_ptr<TextField> textField(std::string_view name) const override {
        return views_.textField(name);
    }
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override {
        return views_.progressBar(name);
    }
    std::string text(std::string_view name) const { return views_.text(name); }
    ProgressBar& bar(std::string_view name) const { return *views_.progressBar(name); }

  private:
    OutletViews views_;
};

}  // namespace quillo::test
