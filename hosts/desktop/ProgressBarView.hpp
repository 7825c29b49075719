#pragma once

#include <QWidget>
#include <memory>

#include "ui/ProgressBar.hpp"

namespace quillo {

// The widget that shows a ProgressBar; the interface file places it by class name.
class ProgressBarView : public QWidget {
    Q_OBJECT

  public:
    explicit ProgressBarView(QWidget* parent = nullptr);
    ~ProgressBarView() override { bar_->setNeedsDisplayHandler({}); }

    const std::shared_ptr<ProgressBar>& bar() const { return bar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::shared_ptr<ProgressBar> bar_;
};

}  // namespace quillo
