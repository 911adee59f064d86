#pragma once

#include <string>

// The full path of the running executable; throws when the platform cannot tell.
std::string ExecutablePath();
