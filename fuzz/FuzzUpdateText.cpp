// Arbitrary version-file texts through the routines that cut them and read the program's
// line: the cut-off piece and the rest always rebuild the text, and no text crashes the
// reading or the comparison with the program's own version.
//
// Input: the text the web host answers with. Its first byte picks whether the request
// fails.

#include "FuzzSupport.h"
#include "update/NewVerCheck.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

class TextHttpClient : public IHttpClient {
  public:
    std::string Body;
    bool Answers = true;
    bool Get(const THttpRequest&, std::string& body) override {
        body = Body;
        return Answers;
    }
};

void CheckCut(const std::string& text, std::string_view separator,
              void (*take)(std::string&, std::string&)) {
    std::string rest = text;
    std::string piece;
    take(rest, piece);
    const bool cut = text.find(separator) != std::string::npos;
    FuzzCheck(cut ? piece + std::string(separator) + rest == text : piece == text && rest.empty(),
              "piece, separator and rest rebuild the text");
    FuzzCheck(piece.find(separator) == std::string::npos, "the piece ends at the first separator");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    if (size < 1) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckCut(text, "\r\n", TakeLine);
    CheckCut(text, ";", TakeField);
    CheckCut(text, ".", TakeVersionPart);

    TextHttpClient http;
    http.Body = text;
    http.Answers = (data[0] & 1) == 0;
    // This target's file name is the name the update check looks for, so a text with a
    // line naming it reaches the comparison with this executable's own version; the text's
    // first line as the name reaches the parsing of whatever that line holds.
    TVersionQuad version;
    const bool found = GetMarvaneUpdateInternetFile(http, "fuzz_update_text", version);
    FuzzCheck(!found || text.find("fuzz_update_text") != std::string::npos,
              "a version only from the program's line");
    GetMarvaneUpdateInternetFile(http, text.substr(0, text.find("\r\n")), version);
    NeedToMarvaneUpdate(http);
    return 0;
}
