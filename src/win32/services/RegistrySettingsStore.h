#pragma once

#include "toolkit/Toolkit.h"

// The settings under HKEY_CURRENT_USER: numbers as REG_DWORD and texts (paths) as REG_SZ;
// a value of another type reads as absent.
class TRegistrySettingsStore : public ISettingsStore {
  public:
    std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool create) override;
};
