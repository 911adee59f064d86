#include "win32/services/RegistrySettingsStore.h"

#include "core/WideText.h"

#include <windows.h>

#include <stdexcept>

namespace {

class TRegistryKey : public ISettingsKey {
  public:
    explicit TRegistryKey(HKEY key) : FKey(key) {}
    ~TRegistryKey() override { RegCloseKey(FKey); }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    std::optional<std::int32_t> ReadDword(const std::string& name) override {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExW(FKey, Widen(name).c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(value);
    }

    void WriteDword(const std::string& name, std::int32_t value) override {
        const auto dword = static_cast<DWORD>(value);
        if (RegSetValueExW(FKey, Widen(name).c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&dword), sizeof dword) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot write the registry value " + name);
        }
    }

  private:
    HKEY FKey;
};

} // namespace

std::unique_ptr<ISettingsKey> TRegistrySettingsStore::OpenKey(const std::string& path,
                                                              bool create) {
    HKEY key = nullptr;
    const std::wstring subKey = Widen(path);
    const LONG result =
        create ? RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr)
               : RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<TRegistryKey>(key);
}
