#pragma once

#include "toolkit/Toolkit.h"

// The per-user settings: on Windows the registry under HKEY_CURRENT_USER through the
// registry functions, REG_DWORD values and REG_SZ paths only; elsewhere an INI file of
// QSettings in the user's configuration folder ("Software\Maker\Program" becomes
// Maker/Program.ini).
class TQtSettingsStore : public ISettingsStore {
  public:
    std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool create) override;
};
