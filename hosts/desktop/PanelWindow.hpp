#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "quillo/settings/Rows.hpp"
#include "quillo/ui/Theme.hpp"
#include "quillo/widget/ExtraRows.hpp"
#include "quillo/widget/OutletViews.hpp"
#include "quillo/widget/ProcessSections.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace Ui {
class TodayViewController;
}
class QLabel;
class QBoxLayout;
class QLayout;

namespace quillo {

class ProgressBarView;
class SparklineView;
class HistoryWindow;

// The desktop panel: the interface file's views and the controller that fills them.
// The window is the host: showing it is an update request, hiding it is the two
// disappearance steps, closing it destroys the controller.
class PanelWindow : public QWidget, public ViewTree, private FigureObserver {
    Q_OBJECT

  public:
    explicit PanelWindow(const ControllerHost& host, QWidget* parent = nullptr);
    ~PanelWindow() override;

    std::shared_ptr<TextField> textField(std::string_view name) const override;
    std::shared_ptr<ProgressBar> progressBar(std::string_view name) const override;

    TodayViewController* controller() const { return controller_.get(); }

    // A frameless panel is moved by dragging it anywhere.
    void setDraggable(bool draggable) { draggable_ = draggable; }

    // The busiest processes under the CPU or memory row: a click on the row opens or
    // closes its list, Escape closes both; they follow the panel's refreshes.
    void toggleProcesses(UsageOrder order);
    void refreshProcesses();
    const ProcessSections& processes() const { return processes_; }

    // A bar's history in a window of its own, opened by a click on its sparkline; one a
    // row, raised when asked for again. Absent for a row without a sparkline.
    HistoryWindow* openHistory(PanelRow row);
    void setHistoryFolder(std::filesystem::path folder) { historyFolder_ = std::move(folder); }

    // The rows shown, in the order the settings chose at the last refresh.
    const std::vector<PanelRow>& rows() const { return rows_; }

    // Opacity, Scale and Layout as the settings have them now; done at each refresh.
    void applyLook();

  signals:
    void closed();
    void contextMenuRequested(const QPoint& globalPosition);
    void geometryChanged();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void applyPalette();
    void fixLabelSizes();
    // Each text and bar at the scale from the size it was made with; with all false,
    // only views made since the last call.
    void scaleViews(bool all);
    void buildProcessSection(UsageOrder order, QWidget* section);
    void showProcesses();
    // The widget that stands for a row to Tab and screen readers: its bar, else its first.
    QWidget* rowFocus(PanelRow row) const;
    // A row whose figures are labels of their own has them as its description.
    void describeRows();
    // Tab goes from row to row in their order.
    void orderRows();

    // The controller's figures pass through to the host's observer; after each refresh
    // the chosen rows are laid out and the extra ones filled.
    void cpu(double percent) override;
    void memory(double percent) override;
    void disk(double percent) override;
    void battery(std::optional<double> charge, bool discharging) override;
    void batteryPower(std::optional<double> watts, std::optional<bool> adapter) override;
    void refreshed() override;
    void showBatteryPower();

    void collectRows(const Localizer& localizer);
    void arrange(const std::vector<PanelRow>& rows);
    void showExtraRows();
    struct Lines;
    void showLines(Lines& lines, const std::vector<ExtraRow>& rows, bool bars);

    std::unique_ptr<Ui::TodayViewController> ui_;
    std::unique_ptr<OutletViews> views_;
    std::shared_ptr<TodayViewController> controller_;
    bool draggable_ = false;
    ProcessSections processes_;
    struct Section {
        QWidget* widget = nullptr;
        std::vector<std::pair<QLabel*, QLabel*>> rows;  // name, figure
    };
    Section sections_[2];  // by CPU, by memory

    FigureObserver* observer_;
    const Configuration& config_;
    std::unique_ptr<ExtraRows> extra_;  // absent where the platform is no Linux one
    std::vector<PanelRow> rows_;
    // What each row puts into the grid, relative to the row's first line.
    struct Placed {
        QWidget* widget;
        QLayout* layout;  // where the row's item is a layout
        int line, column, columnSpan;
    };
    std::map<PanelRow, std::vector<Placed>> placed_;
    QBoxLayout* systemLayout_ = nullptr;  // load and uptime, where they follow each other
    QLabel* swapLabel_ = nullptr;
    QLabel* pressureLabel_ = nullptr;
    QLabel* diskIoLabel_ = nullptr;
    QLabel* temperaturesLabel_ = nullptr;
    QLabel* fansLabel_ = nullptr;
    QLabel* batteryPowerLabel_ = nullptr;
    std::map<PanelRow, SparklineView*> sparklines_;  // beside each bar
    std::map<PanelRow, QPointer<HistoryWindow>> histories_;
    std::map<PanelRow, QLabel*> limitLabels_;  // the cgroup's, after CPU and memory
    std::map<PanelRow, QLabel*> levelLabels_;  // "!" or "!!" after the bar rows
    void showLevel(PanelRow row, ColorLevel level);
    std::filesystem::path historyFolder_ = defaultHistoryFolder();
    ProgressBarView* swapBar_ = nullptr;
    QWidget* coresBox_ = nullptr;
    QLabel* coresLabel_ = nullptr;  // while there is no CPU to show
    // Rows of several lines: the file systems, the interfaces.
    struct LineView {
        QLabel* title;
        ProgressBarView* bar;  // absent for a figure alone
        QLabel* figure;
    };
    struct Lines {
        QWidget* box = nullptr;
        std::vector<LineView> views;
    };
    Lines fileSystemLines_, interfaceLines_;
    std::vector<QWidget*> coreViews_;
    double opacity_ = 1, scale_ = 1;
    bool horizontal_ = false;
    bool keyboardRows_ = false;  // Tab has been pressed: the rows take the focus
};

}  // namespace quillo
