#include "qt/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    TMainWindow window;
    window.show();
    // Paths on the command line open as files dropped on the list would, so that a file
    // manager's "Open with" works.
    const QStringList paths = QApplication::arguments().mid(1);
    if (!paths.isEmpty()) {
        window.OpenDropped(paths);
    }
    return QApplication::exec();
}
