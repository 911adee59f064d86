#pragma once

// The update check: the version file on the maker's web host, the program's line in it,
// the comparison with the program's own version, and the offer to open the download page.

#include "toolkit/Toolkit.h"

#include <compare>
#include <cstdint>
#include <string>

// Only this much of the version file is read.
inline constexpr std::int32_t kVersionFileMaxBytes = 10240;

// major.minor.release.build; ordered component by component in that order.
struct TVersionQuad {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;
    auto operator<=>(const TVersionQuad&) const = default;
};

// Each cuts the first piece off the front of text at the first occurrence of its
// separator (CR LF, ";", "."), removing the piece and the separator. Without a separator
// the piece is the whole text and text becomes empty.
void TakeLine(std::string& text, std::string& line);
void TakeField(std::string& text, std::string& field);
void TakeVersionPart(std::string& text, std::string& part);

// The file version in the version resource of the file at fileName.
bool GetMarvaneFileVersion(const std::string& fileName, TVersionQuad& version);

// The version listed for exeFileName in the version file on the maker's web host: field 2
// of the first line whose first field is exeFileName, exactly.
bool GetMarvaneUpdateInternetFile(IHttpClient& http, const std::string& exeFileName,
                                  TVersionQuad& version);

// Whether the version file lists a newer version of the running executable.
bool NeedToMarvaneUpdate(IHttpClient& http);

// The remainder of the check once it is due: when a newer version is listed, asks the
// user and opens the download page on Yes.
void OfferUpdate(IHttpClient& http, IDialogs& dialogs, IBrowser& browser);

std::string VersionFileUrl();
std::string DownloadPageUrl();
std::string UpdatePrompt();
