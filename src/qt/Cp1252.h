#pragma once

#include <QString>

#include <string>

// The text of a hex line as the window shows it: bytes 0x80 to 0x9F as Windows-1252
// characters, every other byte as the Latin-1 character of its code. The five codes that
// Windows-1252 leaves undefined keep their own code point.
QString Cp1252ToQString(const std::string& bytes);
