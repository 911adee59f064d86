#include "qt/services/QtBrowser.h"

#include <QDesktopServices>
#include <QUrl>

void QtBrowser::OpenUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}
