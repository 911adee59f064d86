#include "qt/PicturePane.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

TPictureCanvas::TPictureCanvas(QWidget* parent) : QWidget(parent) {
    setMinimumSize(64, 48);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
}

void TPictureCanvas::SetImage(const TRgbImage& image) {
    FSource = image;
    FImage = image.Pixels ? QImage(reinterpret_cast<const uchar*>(image.Pixels->data()),
                                   image.Width, image.Height, image.Width * 4, QImage::Format_RGB32)
                          : QImage();
    FScaled = QImage();
    FitToZoom();
    update();
}

void TPictureCanvas::SetZoom(int zoom) {
    FZoom = zoom;
    FScaled = QImage();
    FitToZoom();
    update();
}

void TPictureCanvas::FitToZoom() {
    auto* scroll =
        qobject_cast<QScrollArea*>(parentWidget() ? parentWidget()->parentWidget() : nullptr);
    if (scroll == nullptr) {
        return;
    }
    // Fitted, the canvas is the pane's area; zoomed, it is the picture's size, and the area
    // scrolls over it.
    scroll->setWidgetResizable(FZoom == 0 || FImage.isNull());
    if (FZoom != 0 && !FImage.isNull()) {
        resize(FImage.size() * FZoom);
    }
}

QRect TPictureCanvas::Placement() const {
    if (FImage.isNull()) {
        return {};
    }
    if (FZoom != 0) {
        return {0, 0, FImage.width() * FZoom, FImage.height() * FZoom};
    }
    QSize whole = FImage.size();
    if (whole.width() > width() || whole.height() > height()) {
        whole.scale(size(), Qt::KeepAspectRatio);
    }
    return {(this->width() - whole.width()) / 2, (height() - whole.height()) / 2, whole.width(),
            whole.height()};
}

void TPictureCanvas::resizeEvent(QResizeEvent* event) {
    FScaled = QImage();
    QWidget::resizeEvent(event);
}

void TPictureCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    const QRect place = Placement();
    if (place.isEmpty()) {
        return;
    }
    if (FScaled.size() != place.size()) {
        // Zoomed, each sample stays a sharp square.
        FScaled = FImage.scaled(place.size(), Qt::IgnoreAspectRatio,
                                FZoom != 0 ? Qt::FastTransformation : Qt::SmoothTransformation);
    }
    painter.drawImage(place.topLeft(), FScaled);
}

TQtPicturePane::TQtPicturePane(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Picture"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 2, 0, 0);
    column->setSpacing(2);
    Scroll = new QScrollArea(this);
    Scroll->setFrameShape(QFrame::NoFrame);
    Scroll->setAlignment(Qt::AlignCenter);
    Scroll->setWidgetResizable(true);
    Canvas = new TPictureCanvas(Scroll);
    Canvas->setAccessibleName(QStringLiteral("Decoded picture"));
    Scroll->setWidget(Canvas);
    Scroll->viewport()->installEventFilter(this);
    LineLabel = new QLabel(this);
    LineLabel->setAccessibleName(QStringLiteral("Picture facts"));
    LineLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A new line must not lay the window out again: that would repaint all of it.
    LineLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    column->addWidget(Scroll, 1);
    column->addWidget(LineLabel);
}

void TQtPicturePane::SetVisible(bool visible) {
    setVisible(visible);
}

bool TQtPicturePane::Visible() const {
    return !isHidden();
}

int TQtPicturePane::ImageWidth() const {
    return Scroll->viewport()->width();
}

int TQtPicturePane::ImageHeight() const {
    return Scroll->viewport()->height();
}

void TQtPicturePane::SetZoom(int zoom) {
    Canvas->SetZoom(zoom);
}

void TQtPicturePane::ShowImage(const TRgbImage& image) {
    Canvas->SetImage(image);
}

void TQtPicturePane::ClearImage() {
    Canvas->SetImage(TRgbImage{});
}

bool TQtPicturePane::HasImage() const {
    return Canvas->HasImage();
}

void TQtPicturePane::SetLine(const std::string& text) {
    LineLabel->setText(QString::fromStdString(text));
    // The line may be wider than the pane: hovering tells it whole.
    LineLabel->setToolTip(LineLabel->text());
    Canvas->setAccessibleDescription(LineLabel->text());
}

std::string TQtPicturePane::Line() const {
    return LineLabel->text().toStdString();
}

void TQtPicturePane::Post(std::function<void()> task) {
    // Queued to this widget's thread; dropped when the widget is gone first.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

// The pointer over the picture, for the line that names the macroblock under it.
void TPictureCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QRect place = Placement();
    if (PointerListener && !place.isEmpty()) {
        const QPoint at = event->position().toPoint() - place.topLeft();
        if (at.x() < 0 || at.y() < 0 || at.x() >= place.width() || at.y() >= place.height()) {
            PointerListener(-1, -1);
        } else {
            PointerListener(at.x() * FImage.width() / place.width(),
                            at.y() * FImage.height() / place.height());
        }
    }
    QWidget::mouseMoveEvent(event);
}

void TPictureCanvas::leaveEvent(QEvent* event) {
    if (PointerListener) {
        PointerListener(-1, -1);
    }
    QWidget::leaveEvent(event);
}

void TQtPicturePane::SetPointerListener(std::function<void(int x, int y)> listener) {
    Canvas->PointerListener = std::move(listener);
}

// --- Stepping from picture to picture ---------------------------------------------------

void TQtPicturePane::SetStepHandler(std::function<void(int direction)> handler) {
    FOnStep = std::move(handler);
    // The pane takes the keys once clicked or tabbed to.
    setFocusPolicy(Qt::StrongFocus);
}

void TQtPicturePane::keyPressEvent(QKeyEvent* event) {
    const int direction = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (direction == 0 || !FOnStep) {
        QWidget::keyPressEvent(event);
        return;
    }
    FOnStep(direction);
}

bool TQtPicturePane::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel &&
        (static_cast<QWheelEvent*>(event)->modifiers() & Qt::ControlModifier) != 0) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TQtPicturePane::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if ((event->modifiers() & Qt::ControlModifier) == 0 || delta == 0 || !FOnStep) {
        QWidget::wheelEvent(event);
        return;
    }
    // Away from the user is back in the stream, as a page scrolls up.
    FOnStep(delta > 0 ? -1 : 1);
}
