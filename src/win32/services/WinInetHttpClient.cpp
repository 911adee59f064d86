#include "win32/services/WinInetHttpClient.h"

#include "core/WideText.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <vector>

namespace {

// Closes a WinInet handle on every way out.
class TInternetHandle {
  public:
    explicit TInternetHandle(HINTERNET handle) : FHandle(handle) {}
    ~TInternetHandle() {
        if (FHandle != nullptr) {
            InternetCloseHandle(FHandle);
        }
    }
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;
    HINTERNET Get() const { return FHandle; }

  private:
    HINTERNET FHandle;
};

} // namespace

bool TWinInetHttpClient::Get(const THttpRequest& request, std::string& body) {
    const TInternetHandle session(InternetOpenW(Widen(request.UserAgent).c_str(),
                                                INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                                0));
    if (session.Get() == nullptr) {
        return false;
    }
    auto timeout = static_cast<DWORD>(std::max<long long>(FTimeout.count(), 1));
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionW(session.Get(), option, &timeout, sizeof timeout);
    }
    // Always from the server: a cached version file would hide a new release.
    const TInternetHandle url(InternetOpenUrlW(session.Get(), Widen(request.Url).c_str(), nullptr,
                                               0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                   INTERNET_FLAG_NO_UI,
                                               0));
    if (url.Get() == nullptr) {
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::max(request.MaxBytes, 0)));
    DWORD total = 0;
    while (total < buffer.size()) {
        DWORD got = 0;
        if (!InternetReadFile(url.Get(), buffer.data() + total,
                              static_cast<DWORD>(buffer.size()) - total, &got)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    body.assign(buffer.data(), total);
    return true;
}
