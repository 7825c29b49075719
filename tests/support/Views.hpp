#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ProgressBar.hpp"
#include "widget/TodayViewController.hpp"

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
    std::map<std::string, std::shared_ptr<TextField>, std::less<>> labels;
    std::map<std::string, std::shared_ptr<ProgressBar>, std::less<>> bars;

    explicit Views(bool journaled = true) {
        for (const std::string_view name : TodayViewController::outletNames) {
            const std::string n(name);
            if (name.ends_with("Bar")) {
                bars.emplace(n, journaled ? std::make_shared<ProgressBar>(
                                                [j = journal, n] { j->push_back(n); })
                                          : std::make_shared<ProgressBar>());
            } else if (journaled) {
                labels.emplace(n, std::make_shared<JournalTextField>(n, journal));
            } else {
                labels.emplace(n, std::make_shared<PlainTextField>());
            }
        }
    }
    std::shared_ptr<TextField> textField(std::string_view name) const override {
        const auto it = labels.find(name);
        return it == labels.end() ? nullptr : it->second;
    }
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override {
        const auto it = bars.find(name);
        return it == bars.end() ? nullptr : it->second;
    }
    std::string text(std::string_view name) const {
        return labels.find(name)->second->stringValue();
    }
    ProgressBar& bar(std::string_view name) const { return *bars.find(name)->second; }
};

}  // namespace quillo::test
