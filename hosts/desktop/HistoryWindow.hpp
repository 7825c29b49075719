#pragma once

#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "quillo/widget/HistoryChart.hpp"

class QButtonGroup;
class QLabel;
class QTreeWidget;

namespace quillo {

class HistoryPlot;

// A figure's last hour, day or month from the history, opened from its sparkline. The
// pointer over the plot shows the value of that moment and the busiest processes of its
// minute. It reads the rings when opened, when the span changes, and again while shown
// (every 10 s for the hour, every minute for the others).
class HistoryWindow : public QWidget {
    Q_OBJECT

  public:
    HistoryWindow(std::filesystem::path folder, std::size_t figure, const QString& title,
                  QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void setSpan(HistorySpan span);
    HistorySpan span() const { return span_; }
    const HistoryChart& chart() const { return *chart_; }
    // What the pointer at that moment shows.
    void point(std::int64_t wallMs);

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void reread();

    std::filesystem::path folder_;
    std::size_t figure_;
    HistorySpan span_ = HistorySpan::hour;
    std::optional<HistoryChart> chart_;
    QButtonGroup* spans_;
    HistoryPlot* plot_;
    QLabel* moment_;
    QTreeWidget* processes_;
    QTimer timer_;
};

}  // namespace quillo
