#pragma once

#include "toolkit/Toolkit.h"

// The settings under HKEY_CURRENT_USER, REG_DWORD values only: another type reads as
// absent and is never written.
class TRegistrySettingsStore : public ISettingsStore {
  public:
    std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool create) override;
};
