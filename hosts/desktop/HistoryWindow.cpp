#include "desktop/HistoryWindow.hpp"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <functional>

namespace quillo {

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("Quillo", text);
}

}  // namespace

// The columns of the chart: the span's range softened, its mean strong, and a line at
// the moment pointed at.
class HistoryPlot : public QWidget {
  public:
    HistoryPlot(std::function<void(std::int64_t)> pointed, QWidget* parent)
        : QWidget(parent), pointed_(std::move(pointed)) {
        setObjectName("historyPlot");
        setMouseTracking(true);
        setMinimumSize(480, 160);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void setChart(const HistoryChart* chart) {
        chart_ = chart;
        update();
    }
    void setMark(std::optional<std::int64_t> wallMs) {
        mark_ = wallMs;
        update();
    }

  protected:
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!chart_) return;
        const HistoryChart& c = *chart_;
        const QRectF area = plotArea();
        const double x = std::clamp((event->position().x() - area.left()) / area.width(), 0.0, 1.0);
        pointed_(c.fromMs() + std::llround(x * double(c.toMs() - c.fromMs())));
    }

    void paintEvent(QPaintEvent*) override {
        if (!chart_) return;
        const HistoryChart& c = *chart_;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area = plotArea();
        const QColor text = palette().color(QPalette::WindowText);
        QColor faint = text;
        faint.setAlphaF(0.2f);
        const HistoryUnit unit = c.unit();
        // The scale: its top, its middle and zero.
        p.setFont(font());
        for (const double share : {0.0, 0.5, 1.0}) {
            const double y = area.bottom() - share * area.height();
            p.setPen(faint);
            p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
            p.setPen(text);
            p.drawText(QRectF(0, y - 8, area.left() - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::fromStdString(historyValueText(unit, share * c.top())));
        }
        const auto columns = c.columns(std::size_t(std::max(1.0, area.width())));
        const double step = area.width() / double(columns.size());
        const auto y = [&](double v) {
            return area.bottom() - std::clamp(v / c.top(), 0.0, 1.0) * area.height();
        };
        QColor band = palette().color(QPalette::Highlight);
        band.setAlphaF(0.3f);
        const QColor strong = palette().color(QPalette::Highlight);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto& col = columns[i];
            if (!std::isfinite(col.mean)) continue;
            const double x = area.left() + step * double(i);
            p.fillRect(QRectF(x, y(col.high), step, std::max(1.0, y(col.low) - y(col.high))), band);
            p.fillRect(QRectF(x, y(col.mean) - 1, step, 2), strong);
        }
        // The span's ends under it.
        const QRectF under(area.left(), area.bottom() + 2, area.width(), fontMetrics().height());
        p.setPen(text);
        p.drawText(under, Qt::AlignLeft, QString::fromStdString(c.timeText(c.fromMs())));
        p.drawText(under, Qt::AlignRight, QString::fromStdString(c.timeText(c.toMs())));
        if (c.empty()) {
            p.setPen(text);
            p.drawText(area, Qt::AlignCenter, translated("Nothing was recorded in this span."));
        }
        if (mark_) {
            const double x = area.left() + double(*mark_ - c.fromMs()) /
                                               double(c.toMs() - c.fromMs()) * area.width();
            p.setPen(text);
            p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        }
    }

  private:
    QRectF plotArea() const {
        const double left = fontMetrics().horizontalAdvance("100.0 MB/s") + 8;
        const double under = fontMetrics().height() + 4;
        return QRectF(left, 8, std::max(1.0, width() - left - 8),
                      std::max(1.0, height() - 8 - under));
    }
    const HistoryChart* chart_ = nullptr;
    std::function<void(std::int64_t)> pointed_;
    std::optional<std::int64_t> mark_;
};

HistoryWindow::HistoryWindow(std::filesystem::path folder, std::size_t figure, const QString& title,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), folder_(std::move(folder)), figure_(figure) {
    setObjectName("historyWindow");
    setWindowTitle(title + QString::fromUtf8(" \u2014 ") + translated("History"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    spans_ = new QButtonGroup(this);
    constexpr std::pair<HistorySpan, const char*> spans[] = {{HistorySpan::hour, "Last hour"},
                                                             {HistorySpan::day, "Last day"},
                                                             {HistorySpan::month, "Last 30 days"}};
    for (const auto& [span, label] : spans) {
        auto* button = new QPushButton(translated(label), this);
        button->setCheckable(true);
        button->setChecked(span == span_);
        spans_->addButton(button, int(span));
        buttons->addWidget(button);
    }
    buttons->addStretch();
    connect(spans_, &QButtonGroup::idClicked, this, [this](int id) { setSpan(HistorySpan(id)); });
    layout->addLayout(buttons);

    plot_ = new HistoryPlot([this](std::int64_t ms) { point(ms); }, this);
    layout->addWidget(plot_, 1);
    moment_ = new QLabel(this);
    moment_->setObjectName("historyMoment");
    moment_->setTextFormat(Qt::PlainText);
    layout->addWidget(moment_);
    processes_ = new QTreeWidget(this);
    processes_->setObjectName("historyProcesses");
    processes_->setRootIsDecorated(false);
    processes_->setHeaderLabels({translated("Process"), translated("CPU"), translated("Memory")});
    processes_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    processes_->setMinimumHeight(processes_->fontMetrics().height() * 8);
    layout->addWidget(processes_);

    connect(&timer_, &QTimer::timeout, this, &HistoryWindow::reread);
    reread();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setSpan(HistorySpan span) {
    if (span == span_) return;
    span_ = span;
    if (QAbstractButton* b = spans_->button(int(span))) b->setChecked(true);
    reread();
    moment_->clear();
    processes_->clear();
    plot_->setMark(std::nullopt);
}

void HistoryWindow::reread() {
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    chart_.emplace(folder_, figure_, span_, now);
    timer_.setInterval(span_ == HistorySpan::hour ? 10'000 : 60'000);
    plot_->setChart(&*chart_);
}

void HistoryWindow::point(std::int64_t wallMs) {
    const std::optional<HistoryChart::Moment> m = chart_->at(wallMs);
    plot_->setMark(m ? std::optional(m->wallMs) : std::nullopt);
    moment_->setText(m ? QString::fromStdString(m->text) : QString());
    processes_->clear();
    if (!m) return;
    for (const HistoryChart::Process& p : m->processes) {
        auto* item = new QTreeWidgetItem(
            processes_, {QString::fromStdString(p.name), QString::fromStdString(p.cpu),
                         QString::fromStdString(p.memory)});
        item->setToolTip(0, QString::fromStdString(p.commandLine));
        item->setTextAlignment(1, Qt::AlignRight);
        item->setTextAlignment(2, Qt::AlignRight);
    }
}

void HistoryWindow::showEvent(QShowEvent* event) {
    timer_.start();
    QWidget::showEvent(event);
}

void HistoryWindow::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

}  // namespace quillo
