#include "qt/SummaryPane.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr int kPlotHeight = 120;
constexpr int kMarkHeight = 6; // room above the bars for the IDR marks

QColor ColourOf(const TSummaryBar& bar) {
    if (bar.I >= bar.P && bar.I >= bar.B) {
        return {208, 64, 64};
    }
    return bar.P >= bar.B ? QColor(64, 96, 208) : QColor(64, 160, 64);
}

} // namespace

TSummaryPlotView::TSummaryPlotView(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(kPlotHeight);
    setAccessibleName(QStringLiteral("Picture sizes"));
    setCursor(Qt::PointingHandCursor);
}

void TSummaryPlotView::SetPlot(const TSummaryPlot& plot) {
    const std::int64_t first = FPlot.PageFirst;
    const std::int64_t end = FPlot.PageEnd;
    FPlot = plot;
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    update();
}

void TSummaryPlotView::SetPage(std::int64_t first, std::int64_t end) {
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    update();
}

void TSummaryPlotView::SetClickHandler(std::function<void(std::int64_t)> handler) {
    FOnClick = std::move(handler);
}

int TSummaryPlotView::XOf(std::int64_t offset) const {
    if (FPlot.FileSize <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<double>(offset) * width() /
                            static_cast<double>(FPlot.FileSize));
}

std::int64_t TSummaryPlotView::OffsetAt(int x) const {
    if (width() <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(static_cast<double>(std::clamp(x, 0, width())) *
                                     static_cast<double>(FPlot.FileSize) / width());
}

void TSummaryPlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    if (FPlot.PageFirst >= 0) {
        const int left = XOf(FPlot.PageFirst);
        painter.fillRect(left, 0, std::max(XOf(FPlot.PageEnd) - left, 2), height(),
                         QColor(255, 220, 100, 140));
    }
    std::int64_t largest = 1;
    for (const TSummaryBar& bar : FPlot.Bars) {
        largest = std::max(largest, bar.Largest);
    }
    const int room = height() - kMarkHeight - 1;
    const int barWidth = std::max(XOf(FPlot.BucketWidth), 1);
    for (const TSummaryBar& bar : FPlot.Bars) {
        const int x = XOf(bar.FirstOffset);
        const int h = std::max(1, static_cast<int>(static_cast<double>(bar.Largest) * room /
                                                   static_cast<double>(largest)));
        painter.fillRect(x, height() - h, barWidth, h, ColourOf(bar));
        if (bar.Idr > 0) {
            painter.fillRect(x, 0, std::max(barWidth, 2), kMarkHeight, palette().text());
        }
    }
}

void TSummaryPlotView::mousePressEvent(QMouseEvent* event) {
    if (FOnClick && event->button() == Qt::LeftButton && FPlot.FileSize > 0) {
        FOnClick(OffsetAt(static_cast<int>(event->position().x())));
    }
}

TSummaryPane::TSummaryPane(QWidget* parent) : QDockWidget(QStringLiteral("Summary"), parent) {
    setObjectName(QStringLiteral("Summary"));
    setAccessibleName(QStringLiteral("Summary"));
    // The menu item shows and hides it; a close button of its own would leave the mark wrong.
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(4, 2, 4, 2);
    Figures = new QLabel(body);
    Figures->setAccessibleName(QStringLiteral("Summary figures"));
    Figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PlotView = new TSummaryPlotView(body);
    auto* progressRow = new QHBoxLayout;
    Bar = new QProgressBar(body);
    Bar->setRange(0, 1000);
    Bar->setAccessibleName(QStringLiteral("Summary progress"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), body);
    CancelButton->setAccessibleName(QStringLiteral("Cancel summary"));
    progressRow->addWidget(Bar, 1);
    progressRow->addWidget(CancelButton);
    column->addWidget(Figures);
    column->addWidget(PlotView, 1);
    column->addLayout(progressRow);
    setWidget(body);
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        if (FOnCancel) {
            FOnCancel();
        }
    });
    SetProgress(false, 0, "");
    hide();
}

void TSummaryPane::SetPaneVisible(bool visible) {
    setVisible(visible);
}

bool TSummaryPane::PaneVisible() const {
    return !isHidden();
}

void TSummaryPane::SetFigures(const std::vector<std::string>& lines) {
    QStringList text;
    for (const std::string& line : lines) {
        text << QString::fromStdString(line);
    }
    Figures->setText(text.join(QLatin1Char('\n')));
}

void TSummaryPane::SetPlot(const TSummaryPlot& plot) {
    PlotView->SetPlot(plot);
}

void TSummaryPane::SetPage(std::int64_t first, std::int64_t end) {
    PlotView->SetPage(first, end);
}

void TSummaryPane::SetProgress(bool running, int permille, const std::string& text) {
    Bar->setVisible(running);
    CancelButton->setVisible(running);
    Bar->setValue(permille);
    Bar->setFormat(QString::fromStdString(text));
}

void TSummaryPane::SetCancelHandler(NotifyHandler handler) {
    FOnCancel = std::move(handler);
}

void TSummaryPane::SetClickHandler(std::function<void(std::int64_t)> handler) {
    PlotView->SetClickHandler(std::move(handler));
}
