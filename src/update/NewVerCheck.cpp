#include "update/NewVerCheck.h"

#include "core/Guard.h"
#include "update/ExecutablePath.h"
#include "update/VersionInfo.h"

#include <charconv>
#include <filesystem>
#include <stdexcept>

#ifndef QUILLET_MAKER_HOST
#error "QUILLET_MAKER_HOST must name the maker's web host"
#endif

namespace {

void TakeUntil(std::string& text, std::string_view separator, std::string& piece) {
    const std::size_t at = text.find(separator);
    if (at == std::string::npos) {
        piece = std::move(text);
        text.clear();
        return;
    }
    piece = text.substr(0, at);
    text.erase(0, at + separator.size());
}

// A decimal integer in the signed 32-bit range, the whole piece and nothing else.
std::int32_t ToVersionPart(const std::string& piece) {
    std::int32_t value = 0;
    const char* end = piece.data() + piece.size();
    const auto [stop, error] = std::from_chars(piece.data(), end, value);
    if (piece.empty() || error != std::errc() || stop != end) {
        throw std::invalid_argument("'" + piece + "' is not a valid integer value");
    }
    return value;
}

} // namespace

void TakeLine(std::string& text, std::string& line) {
    TakeUntil(text, "\r\n", line);
}

void TakeField(std::string& text, std::string& field) {
    TakeUntil(text, ";", field);
}

void TakeVersionPart(std::string& text, std::string& part) {
    TakeUntil(text, ".", part);
}

std::string VersionFileUrl() {
    return "https://" QUILLET_MAKER_HOST "/download/ver.txt";
}

std::string DownloadPageUrl() {
    return "https://" QUILLET_MAKER_HOST "/?page_id=25";
}

std::string UpdatePrompt() {
    return "A new version of Quillet is available on " QUILLET_MAKER_HOST
           ". Do you want to update to the latest version?";
}

bool GetMarvaneFileVersion(const std::string& fileName, TVersionQuad& version) {
    return Guard("GetMarvaneFileVersion", false, [&] {
        const TFixedFileInfo info = TVersionInfo(fileName).FixedFileInfo();
        version.Major = static_cast<std::int32_t>(info.dwFileVersionMS >> 16);
        version.Minor = static_cast<std::int32_t>(info.dwFileVersionMS & 0xFFFF);
        version.Release = static_cast<std::int32_t>(info.dwFileVersionLS >> 16);
        version.Build = static_cast<std::int32_t>(info.dwFileVersionLS & 0xFFFF);
        return true;
    });
}

bool GetMarvaneUpdateInternetFile(IHttpClient& http, const std::string& exeFileName,
                                  TVersionQuad& version) {
    return Guard("GetMarvaneUpdateInternetFile", false, [&] {
        std::string text;
        if (!http.Get({VersionFileUrl(), exeFileName, kVersionFileMaxBytes}, text)) {
            return false;
        }
        text.resize(std::min(text.size(), std::size_t{kVersionFileMaxBytes}));
        text.resize(std::min(text.size(), text.find('\0')));
        // The program's line is the one whose first field is its name, whole: "quillet" is
        // also in "quillet-dump".
        std::string line;
        std::string field;
        do {
            TakeLine(text, line);
            if (line.empty()) {
                return false;
            }
            TakeField(line, field);
        } while (field != exeFileName);
        TakeField(line, field);
        std::string part;
        TakeVersionPart(field, part);
        version.Major = ToVersionPart(part);
        TakeVersionPart(field, part);
        version.Minor = ToVersionPart(part);
        TakeVersionPart(field, part);
        version.Release = ToVersionPart(part);
        TakeVersionPart(field, part);
        version.Build = ToVersionPart(part);
        return true;
    });
}

bool NeedToMarvaneUpdate(IHttpClient& http) {
    return Guard("NeedToMarvaneUpdate", false, [&] {
        const std::string path = ExecutablePath();
        TVersionQuad remote;
        if (!GetMarvaneUpdateInternetFile(http, std::filesystem::path(path).filename().string(),
                                          remote)) {
            return false;
        }
        TVersionQuad local;
        if (!GetMarvaneFileVersion(path, local)) {
            return false;
        }
        return remote > local;
    });
}

void OfferUpdate(IHttpClient& http, IDialogs& dialogs, IBrowser& browser) {
    if (!NeedToMarvaneUpdate(http)) {
        return;
    }
    if (dialogs.Confirm("Confirm", UpdatePrompt())) {
        browser.OpenUrl(DownloadPageUrl());
    }
}
