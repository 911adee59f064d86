#include "qt/SummaryPane.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QToolTip>

namespace {

constexpr int kPlotHeight = 100;

QColor ColourOf(TPlotColour colour) {
    return {colour.R, colour.G, colour.B};
}

} // namespace

TSummaryPlotView::TSummaryPlotView(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(kPlotHeight);
    setAccessibleName(QStringLiteral("Picture sizes"));
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
}

void TSummaryPlotView::SetPlot(const TSummaryPlot& plot) {
    FModel.SetPlot(plot);
    update();
}

void TSummaryPlotView::SetPage(std::int64_t first, std::int64_t end) {
    FModel.SetPage(first, end);
    update();
}

void TSummaryPlotView::SetClickHandler(std::function<void(std::int64_t)> handler) {
    FOnClick = std::move(handler);
}

void TSummaryPlotView::SetUnitTextHandler(
    std::function<std::string(std::int64_t, std::int64_t)> handler) {
    FUnitText = std::move(handler);
}

void TSummaryPlotView::resizeEvent(QResizeEvent*) {
    const QFontMetrics metrics = fontMetrics();
    FModel.SetSize(width(), height(),
                   {metrics.horizontalAdvance(QLatin1Char('0')), metrics.height()});
}

bool TSummaryPlotView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const std::string tip = FModel.TipAt(help->pos().x(), FUnitText);
        if (tip.empty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), QString::fromStdString(tip), this);
        }
        return true;
    }
    return QWidget::event(event);
}

void TSummaryPlotView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const TPlotPicture& picture = FModel.Picture();
    painter.fillRect(rect(), ColourOf(picture.Background));
    for (const TPlotRect& r : picture.Rects) {
        painter.fillRect(r.Left, r.Top, r.Width, r.Height, ColourOf(r.Colour));
    }
    for (const TPlotLine& l : picture.Lines) {
        painter.setPen(QPen(ColourOf(l.Colour), 2));
        painter.drawLine(l.X1, l.Y1, l.X2, l.Y2);
    }
    painter.setPen(ColourOf(picture.Ink));
    const QFontMetrics metrics = fontMetrics();
    for (const TPlotText& t : picture.Texts) {
        const QString text = QString::fromStdString(t.Text);
        const int w = metrics.horizontalAdvance(text);
        const int x = t.Align == TPlotAlign::Left     ? t.X
                      : t.Align == TPlotAlign::Centre ? t.X - w / 2
                                                      : t.X - w;
        painter.drawText(x, t.Y + metrics.ascent(), text);
    }
}

void TSummaryPlotView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        FModel.Press(static_cast<int>(event->position().x()));
    } else if (event->button() == Qt::RightButton) {
        FModel.ZoomOut();
        update();
    }
}

void TSummaryPlotView::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) != 0) {
        FModel.Drag(static_cast<int>(event->position().x()));
        update();
    }
}

void TSummaryPlotView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const std::optional<std::int64_t> offset =
        FModel.Release(static_cast<int>(event->position().x()));
    update();
    if (offset && FOnClick) {
        FOnClick(*offset);
    }
}

void TSummaryPlotView::mouseDoubleClickEvent(QMouseEvent*) {
    FModel.ZoomOut();
    update();
}

TSummaryPane::TSummaryPane(QWidget* parent) : QDockWidget(QStringLiteral("Summary"), parent) {
    setObjectName(QStringLiteral("Summary"));
    setAccessibleName(QStringLiteral("Summary"));
    // The menu item shows and hides it; a close button of its own would leave the mark wrong.
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(4, 2, 4, 2);
    // The figures beside the plot, so that the dock is no taller than the plot; many
    // figure lines scroll rather than push the plot out of the window.
    FiguresScroll = new QScrollArea(body);
    FiguresScroll->setFrameShape(QFrame::NoFrame);
    FiguresScroll->setWidgetResizable(true);
    FiguresScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Figures = new QLabel(FiguresScroll);
    Figures->setAccessibleName(QStringLiteral("Summary figures"));
    Figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Figures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Figures->setWordWrap(true);
    FiguresScroll->setWidget(Figures);
    PlotView = new TSummaryPlotView(body);
    auto* progressRow = new QHBoxLayout;
    Bar = new QProgressBar(body);
    Bar->setRange(0, 1000);
    Bar->setAccessibleName(QStringLiteral("Summary progress"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), body);
    CancelButton->setAccessibleName(QStringLiteral("Cancel summary"));
    progressRow->addWidget(Bar, 1);
    progressRow->addWidget(CancelButton);
    auto* row = new QHBoxLayout;
    row->addWidget(FiguresScroll, 2);
    row->addWidget(PlotView, 3);
    column->addLayout(row, 1);
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

void TSummaryPane::SetZoomHandler(std::function<void(std::int64_t, std::int64_t)> handler) {
    PlotView->SetZoomHandler(std::move(handler));
}

void TSummaryPane::SetUnitTextHandler(
    std::function<std::string(std::int64_t, std::int64_t)> handler) {
    PlotView->SetUnitTextHandler(std::move(handler));
}
