#include "qt/Fonts.h"

#include <QFontDatabase>

QFont PreferredFont(const QString& family, int pointSize, const QFont& fallback) {
    if (!QFontDatabase::hasFamily(family)) {
        return fallback;
    }
    QFont font(family);
    font.setPointSize(pointSize);
    return font;
}

QFont FixedFont(int pointSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(pointSize);
    return font;
}
