// quillet-screenshot OUT.png STREAM [ROW]: shows the window with STREAM loaded and row ROW
// (default 0) clicked, and saves the window's picture as OUT.png. Runs on the offscreen
// platform unless QT_QPA_PLATFORM says otherwise.

#include "qt/MainWindow.h"
#include "qt/ReportListView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>

#include <cstdio>

namespace {

void Click(QWidget* widget, QPoint at) {
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// No stored settings and one common screen: the window lays itself out as on a first run.
class TNoSettings : public ISettingsStore {
  public:
    std::unique_ptr<ISettingsKey> OpenKey(const std::string&, bool) override { return nullptr; }
};

class TOneScreen : public IMonitors {
  public:
    std::vector<TScreenRect> WorkAreas() const override { return {{0, 0, 1920, 1040}}; }
};

} // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: quillet-screenshot OUT.png STREAM [ROW]\n");
        return 2;
    }
    TNoSettings settings;
    TOneScreen screen;
    TMainWindowServices services;
    services.Registry = &settings;
    services.Monitors = &screen;
    TMainWindow window(services);
    window.show();
    window.OpenDropped({arguments[2]});
    QApplication::processEvents();

    const int row = arguments.size() > 3 ? arguments[3].toInt() : 0;
    const QRect rect = window.ListView1->visualRect(window.ListView1->Model()->index(row, 0));
    if (rect.isValid()) {
        Click(window.ListView1->viewport(), rect.center());
    }
    QApplication::processEvents();

    if (!window.grab().save(arguments[1], "PNG")) {
        std::fprintf(stderr, "quillet-screenshot: cannot write %s\n", qPrintable(arguments[1]));
        return 1;
    }
    return 0;
}
