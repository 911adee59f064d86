#include "qt/services/QtSettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <charconv>
#include <stdexcept>

namespace {

// An INI file has no types: a value counts as a 32-bit integer when its text is one.
std::optional<std::int32_t> ParseDword(const QString& text) {
    const std::string s = text.toStdString();
    std::int32_t value = 0;
    const char* end = s.data() + s.size();
    const auto [stop, error] = std::from_chars(s.data(), end, value);
    if (s.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

class IniSettingsKey : public ISettingsKey {
  public:
    IniSettingsKey(const QString& organization, const QString& application)
        : FSettings(QSettings::IniFormat, QSettings::UserScope, organization, application) {
        // Only this key counts, never the organisation's or the system's defaults.
        FSettings.setFallbacksEnabled(false);
    }

    QSettings& Settings() { return FSettings; }

    std::optional<std::int32_t> ReadDword(const std::string& name) override {
        const QVariant value = FSettings.value(QString::fromStdString(name));
        if (value.typeId() == QMetaType::Int) {
            return value.toInt();
        }
        if (value.typeId() == QMetaType::QString) {
            return ParseDword(value.toString());
        }
        return std::nullopt;
    }

    void WriteDword(const std::string& name, std::int32_t value) override {
        if (!FSettings.isWritable()) {
            throw std::runtime_error("settings file not writable");
        }
        FSettings.setValue(QString::fromStdString(name), value);
    }

    // Paths are kept as their bytes, whatever the file system's encoding; a value typed in
    // by hand reads as its UTF-8.
    std::optional<std::string> ReadString(const std::string& name) override {
        const QVariant value = FSettings.value(QString::fromStdString(name));
        if (value.typeId() == QMetaType::QByteArray) {
            return value.toByteArray().toStdString();
        }
        if (value.typeId() == QMetaType::QString) {
            return value.toString().toStdString();
        }
        return std::nullopt;
    }

    void WriteString(const std::string& name, const std::string& value) override {
        if (!FSettings.isWritable()) {
            throw std::runtime_error("settings file not writable");
        }
        // Readable text where the bytes are UTF-8, as paths mostly are; the bytes otherwise.
        const QByteArray bytes = QByteArray::fromStdString(value);
        const QString text = QString::fromUtf8(bytes);
        FSettings.setValue(QString::fromStdString(name),
                           text.toUtf8() == bytes ? QVariant(text) : QVariant(bytes));
    }

    // The file is replaced as a whole when the key closes.
    ~IniSettingsKey() override { FSettings.sync(); }
    IniSettingsKey(const IniSettingsKey&) = delete;
    IniSettingsKey& operator=(const IniSettingsKey&) = delete;

  private:
    QSettings FSettings;
};

} // namespace

std::unique_ptr<ISettingsKey> TQtSettingsStore::OpenKey(const std::string& path, bool create) {
    // "Software\Maker\Program" names the file of Program by Maker.
    const QStringList parts = QString::fromStdString(path).split(QLatin1Char('\\'));
    if (parts.size() != 3 ||
        parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0 ||
        parts[1].isEmpty() || parts[2].isEmpty()) {
        return nullptr;
    }
    auto key = std::make_unique<IniSettingsKey>(parts[1], parts[2]);
    QSettings& settings = key->Settings();
    if (settings.status() != QSettings::NoError) {
        return nullptr;
    }
    if (!create && !QFileInfo::exists(settings.fileName())) {
        return nullptr;
    }
    if (create && !settings.isWritable()) {
        return nullptr;
    }
    return key;
}
