#include "qt/FindProgress.h"

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

TFindProgress::TFindProgress(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    Caption = new QLabel(this);
    Bar = new QProgressBar(this);
    Bar->setRange(0, 1000);
    Bar->setTextVisible(true);
    Bar->setAccessibleName(QStringLiteral("Search progress"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setAccessibleName(QStringLiteral("Cancel search"));
    row->addWidget(Caption);
    row->addWidget(Bar, 1);
    row->addWidget(CancelButton);
    setAccessibleName(QStringLiteral("Search"));
    const auto cancel = [this] {
        if (FOnCancel) {
            FOnCancel();
        }
    };
    connect(CancelButton, &QPushButton::clicked, this, cancel);
    // Shortcuts of a hidden widget do not fire: Esc cancels only while a search shows.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, cancel);
    hide();
}

void TFindProgress::Show(const std::string& caption) {
    Caption->setText(QString::fromStdString(caption));
    Bar->setValue(0);
    Bar->setFormat(QString());
    show();
}

void TFindProgress::SetProgress(int permille, const std::string& text) {
    Bar->setValue(permille);
    Bar->setFormat(QString::fromStdString(text));
}

void TFindProgress::Hide() {
    hide();
}

bool TFindProgress::Visible() const {
    return !isHidden();
}

void TFindProgress::SetCancelHandler(NotifyHandler handler) {
    FOnCancel = std::move(handler);
}
