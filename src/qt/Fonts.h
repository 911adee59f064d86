#pragma once

#include <QFont>
#include <QString>

// family at pointSize when it is installed, otherwise fallback as it is. The window's
// design fonts are Windows ones that most other systems lack.
QFont PreferredFont(const QString& family, int pointSize, const QFont& fallback);

// A font at pointSize whose characters all take one width: the system's fixed font when
// it is so, otherwise the first such of a few common families (DejaVu Sans Mono first).
QFont FixedFont(int pointSize);

// preferred at pointSize when it is installed and its characters take one width,
// otherwise FixedFont(pointSize).
QFont FixedFont(const QString& preferred, int pointSize);
