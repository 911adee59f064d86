#include "qt/MainWindow.h"
#include "qt/services/QtBrowser.h"
#include "qt/services/QtHttpClient.h"
#include "qt/services/QtMonitors.h"
#include "qt/services/QtSettingsStore.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    TQtSettingsStore registry;
    TQtHttpClient http;
    TQtBrowser browser;
    TQtMonitors monitors;
    TMainWindowServices services;
    services.Registry = &registry;
    services.Http = &http;
    services.Browser = &browser;
    services.Monitors = &monitors;
    TMainWindow window(services);
    window.show();
    // Paths on the command line open as files dropped on the list would, so that a file
    // manager's "Open with" works; one that is refused is reported, since the user named it.
    const QStringList paths = QApplication::arguments().mid(1);
    if (!paths.isEmpty()) {
        window.OpenCommandLine(paths);
    }
    return QApplication::exec();
}
