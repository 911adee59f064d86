#include "qt/StatusBar.h"

#include <QLabel>

TStatusBarView::TStatusBarView(QWidget* parent) : QStatusBar(parent) {
    const std::array<const char*, 4> names = {"File size", "Page", "Selected unit",
                                              "Navigation note"};
    for (std::size_t i = 0; i < FFields.size(); ++i) {
        FFields[i] = new QLabel(this);
        FFields[i]->setAccessibleName(QString::fromLatin1(names[i]));
        // The note takes what room is left.
        addWidget(FFields[i], i + 1 == FFields.size() ? 1 : 0);
    }
    setAccessibleName(QStringLiteral("Status bar"));
}

void TStatusBarView::SetText(TStatusField field, const std::string& text) {
    FFields[static_cast<std::size_t>(field)]->setText(QString::fromStdString(text));
}

std::string TStatusBarView::Text(TStatusField field) const {
    return FFields[static_cast<std::size_t>(field)]->text().toStdString();
}
