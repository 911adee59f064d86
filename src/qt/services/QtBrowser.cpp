#include "qt/services/QtBrowser.h"

#include <QDesktopServices>
#include <QUrl>

void TQtBrowser::OpenUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}
