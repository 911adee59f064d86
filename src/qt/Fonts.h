#pragma once

#include <QFont>
#include <QString>

// family at pointSize when it is installed, otherwise fallback as it is. The window's
// design fonts are Windows ones that most other systems lack.
QFont PreferredFont(const QString& family, int pointSize, const QFont& fallback);

// The system's fixed-pitch font at pointSize.
QFont FixedFont(int pointSize);
