#pragma once

// Texts inside the program are UTF-8; Windows takes and gives file names and window texts
// as UTF-16. These convert at that border, so that a name in any script survives.

#ifdef _WIN32
#include <string>
#include <string_view>

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
#endif
