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

    std::optional<std::string> ReadString(const std::string& name) override {
        const std::wstring value = Widen(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(FKey, value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(FKey, value.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        text.resize(wcsnlen(text.c_str(), text.size()));
        return Narrow(text);
    }

    void WriteString(const std::string& name, const std::string& value) override {
        const std::wstring text = Widen(value);
        if (RegSetValueExW(FKey, Widen(name).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) !=
            ERROR_SUCCESS) {
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
