#include "qt/services/QtSettingsStore.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>
#include <string>

// QSettings cannot tell a missing key from an empty one, and reads and writes types other
// than REG_DWORD and REG_SZ; the registry functions keep to what the settings need.

namespace {

class RegistrySettingsKey : public ISettingsKey {
  public:
    explicit RegistrySettingsKey(HKEY key) : FKey(key) {}
    ~RegistrySettingsKey() override { RegCloseKey(FKey); }
    RegistrySettingsKey(const RegistrySettingsKey&) = delete;
    RegistrySettingsKey& operator=(const RegistrySettingsKey&) = delete;

    std::optional<std::int32_t> ReadDword(const std::string& name) override {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value) {
            return std::nullopt;
        }
        return static_cast<std::int32_t>(value);
    }

    void WriteDword(const std::string& name, std::int32_t value) override {
        const auto dword = static_cast<DWORD>(value);
        if (RegSetValueExA(FKey, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword),
                           sizeof dword) != ERROR_SUCCESS) {
            throw std::runtime_error("RegSetValueExA failed");
        }
    }

    // Paths as REG_SZ in the system's code page, as the A functions take them.
    std::optional<std::string> ReadString(const std::string& name) override {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        std::string value(size, '\0');
        if (RegQueryValueExA(FKey, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS ||
            type != REG_SZ) {
            return std::nullopt;
        }
        value.resize(std::min<std::size_t>(size, value.size()));
        while (!value.empty() && value.back() == '\0') {
            value.pop_back();
        }
        return value;
    }

    void WriteString(const std::string& name, const std::string& value) override {
        if (RegSetValueExA(FKey, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
            throw std::runtime_error("RegSetValueExA failed");
        }
    }

  private:
    HKEY FKey;
};

} // namespace

std::unique_ptr<ISettingsKey> TQtSettingsStore::OpenKey(const std::string& path, bool create) {
    HKEY key = nullptr;
    const LONG result =
        create ? RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr)
               : RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::make_unique<RegistrySettingsKey>(key);
}
