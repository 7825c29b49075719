#pragma once

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>

#include "quillo/widget/OutletViews.hpp"
#include "quillo/widget/ProcessSections.hpp"
#include "quillo/widget/TodayViewController.hpp"

namespace Ui {
class TodayViewController;
}
class QLabel;

namespace quillo {

// The desktop panel: the interface file's views and the controller that fills them.
// The window is the host: showing it is an update request, hiding it is the two
// disappearance steps, closing it destroys the controller.
class PanelWindow : public QWidget, public ViewTree {
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

  private:
    void applyPalette();
    void fixLabelSizes();
    void buildProcessSection(UsageOrder order, QWidget* section);
    void showProcesses();

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
};

}  // namespace quillo
