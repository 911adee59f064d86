#include "qt/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

namespace {

// The hex digits, the text column and the tree's element lines are laid out by character
// count, so every character drawn must take the same width. A family's fixed-pitch flag
// does not say so reliably (Noto Sans Mono has equal advances but is not flagged; a
// family the flag names may fall back to another font), so the advances are measured.
bool HasEqualAdvances(const QFont& font) {
    // The family asked for must be the family drawn, or the measure says nothing of it.
    if (QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) != 0) {
        return false;
    }
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("0"));
    if (width <= 0) {
        return false;
    }
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        if (metrics.horizontalAdvance(QString(QChar(c))) != width) {
            return false;
        }
    }
    return true;
}

QFont Sized(const QString& family, int pointSize) {
    QFont font(family);
    font.setPointSize(pointSize);
    return font;
}

} // namespace

QFont PreferredFont(const QString& family, int pointSize, const QFont& fallback) {
    if (!QFontDatabase::hasFamily(family)) {
        return fallback;
    }
    return Sized(family, pointSize);
}

QFont FixedFont(int pointSize) {
    QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    system.setPointSize(pointSize);
    // The system's choice first, then families made for code that most systems carry;
    // those the database calls fixed before the others.
    const QStringList families = {system.family(),
                                  QStringLiteral("DejaVu Sans Mono"),
                                  QStringLiteral("Liberation Mono"),
                                  QStringLiteral("Consolas"),
                                  QStringLiteral("Courier New"),
                                  QStringLiteral("Noto Sans Mono"),
                                  QStringLiteral("Noto Mono")};
    for (const bool flagged : {true, false}) {
        for (const QString& family : families) {
            if (!QFontDatabase::hasFamily(family) ||
                QFontDatabase::isFixedPitch(family) != flagged) {
                continue;
            }
            const QFont font = family == system.family() ? system : Sized(family, pointSize);
            if (HasEqualAdvances(font)) {
                return font;
            }
        }
    }
    return system;
}

QFont FixedFont(const QString& preferred, int pointSize) {
    const QFont font = Sized(preferred, pointSize);
    return QFontDatabase::hasFamily(preferred) && HasEqualAdvances(font) ? font
                                                                         : FixedFont(pointSize);
}
