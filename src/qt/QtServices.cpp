#include "qt/QtServices.h"

#include "qt/Cp1252.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace {

// The logic separates message lines with a lone carriage return, as Windows message boxes
// take them; Qt breaks lines at line feeds.
QString MessageText(const std::string& text) {
    QString message = QString::fromStdString(text);
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    message.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return message;
}

} // namespace

TQtDialogs::TQtDialogs(QWidget* owner) : FOwner(owner) {}

std::optional<std::string> TQtDialogs::OpenFileName() {
    return OpenFileNameFor({{}, "H264 ES Files", "*.264"});
}

std::optional<std::string> TQtDialogs::OpenFileNameFor(const TOpenFileRequest& request) {
    // The first filter is the one selected when the dialog opens.
    const QString filter = QString::fromStdString(request.FilterName) + QStringLiteral(" (") +
                           QString::fromStdString(request.Patterns) +
                           QStringLiteral(");;All Files (*)");
    const QString path = QFileDialog::getOpenFileName(
        FOwner, QString(), QFile::decodeName(QByteArray::fromStdString(request.Folder)), filter);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(path).toStdString();
}

void TQtDialogs::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                    MessageText(text), QMessageBox::Ok, FOwner);
    box.exec();
}

void TQtDialogs::ShowInformation(const std::string& title, const std::string& text) {
    QMessageBox::information(FOwner, QString::fromStdString(title), MessageText(text));
}

void TQtDialogs::ShowWarning(const std::string& title, const std::string& text) {
    QMessageBox::warning(FOwner, QString::fromStdString(title), MessageText(text));
}

void TQtClipboard::SetText(const std::string& text) {
    QGuiApplication::clipboard()->setText(Cp1252ToQString(text));
}

bool TQtDialogs::Confirm(const std::string& title, const std::string& text) {
    return QMessageBox::question(FOwner, QString::fromStdString(title), MessageText(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> TQtDialogs::AskText(const std::string& title, const std::string& label,
                                               const std::string& text) {
    bool ok = false;
    const QString typed =
        QInputDialog::getText(FOwner, QString::fromStdString(title), QString::fromStdString(label),
                              QLineEdit::Normal, QString::fromStdString(text), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return typed.toStdString();
}

std::optional<std::string> TQtDialogs::ChooseItem(const std::string& title,
                                                  const std::string& label,
                                                  const std::vector<std::string>& items,
                                                  int current) {
    QStringList list;
    for (const std::string& item : items) {
        list << QString::fromStdString(item);
    }
    bool ok = false;
    // Editable, so that a kind not in the list can be typed.
    const QString chosen =
        QInputDialog::getItem(FOwner, QString::fromStdString(title), QString::fromStdString(label),
                              list, current, true, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

TQtCursor::~TQtCursor() {
    while (FDepth > 0) {
        SetDefault();
    }
}

void TQtCursor::SetBusy() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++FDepth;
}

void TQtCursor::SetDefault() {
    // Only what was set here is taken back.
    if (FDepth > 0) {
        QApplication::restoreOverrideCursor();
        --FDepth;
    }
}

bool TQtTimer::Enabled() const {
    return FTimer->isActive();
}

void TQtTimer::SetEnabled(bool enabled) {
    // Enabling a running timer does not restart its interval.
    if (enabled && !FTimer->isActive()) {
        FTimer->start();
    } else if (!enabled) {
        FTimer->stop();
    }
}

bool TQtMenuCheck::Checked() const {
    return FAction->isChecked();
}

void TQtMenuCheck::SetChecked(bool checked) {
    FAction->setChecked(checked);
}
