#include "qt/StatusBar.h"

#include <QLabel>

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent) {
    setAccessibleName(QStringLiteral("Status"));
    setSizeGripEnabled(true);
    const char* const names[] = {"File size", "Page", "Selected unit", "Navigation note"};
    for (int i = 0; i < 4; ++i) {
        auto* label = new QLabel(this);
        label->setAccessibleName(QString::fromLatin1(names[i]));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        FLabels[i] = label;
        // The note takes what room is left; the others keep to their text.
        addWidget(label, i == 3 ? 1 : 0);
    }
}

QLabel* TStatusBar::Label(TStatusField field) const {
    return FLabels[static_cast<int>(field)];
}

void TStatusBar::SetText(TStatusField field, const std::string& text) {
    QLabel* label = Label(field);
    const QString value = QString::fromStdString(text);
    label->setText(value);
    // A screen reader reads the label's description with its name.
    label->setAccessibleDescription(value);
    label->setVisible(!value.isEmpty());
}

std::string TStatusBar::Text(TStatusField field) const {
    return Label(field)->text().toStdString();
}
