#include "qt/services/QtMonitors.h"

#include <QGuiApplication>
#include <QScreen>

std::vector<TScreenRect> TQtMonitors::WorkAreas() const {
    std::vector<TScreenRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return areas;
    }
    const auto add = [&](const QScreen* screen) {
        const QRect r = screen->availableGeometry();
        areas.push_back({r.x(), r.y(), r.width(), r.height()});
    };
    add(primary);
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) {
            add(screen);
        }
    }
    return areas;
}
