#pragma once

// Input for the Qt tests as a user gives it: presses on the parts of a scroll bar, file
// drops, and the texts a screen reader reads.

#include <QPoint>
#include <QStringList>
#include <QStyle>

class QScrollBar;
class QWidget;

// Centre of a part of the scroll bar (an arrow, a page area, the thumb).
QPoint ScrollBarPoint(const QScrollBar* bar, QStyle::SubControl control);
// Drags the thumb to the point at fraction (0..1) of the bar's groove; the handlers see
// the press, the moves and the release apart.
void DragThumb(QScrollBar* bar, double fraction);
// Drops local files on widget's drop area as a file manager would; true when accepted.
bool DropFiles(QWidget* widget, const QStringList& paths);
// A turn of the mouse wheel by delta (120 a notch; positive away from the user).
void Wheel(QWidget* widget, int delta);
// Every text the accessibility interface of widget offers, its descendants' included.
QStringList AccessibleTexts(QWidget* widget);
