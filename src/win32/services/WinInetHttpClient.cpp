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
    const std::wstring address = Widen(request.Url);
    wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    wchar_t path[INTERNET_MAX_URL_LENGTH] = {};
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = INTERNET_MAX_URL_LENGTH;
    if (!InternetCrackUrlW(address.c_str(), 0, 0, &parts)) {
        return false;
    }
    const TInternetHandle session(InternetOpenW(Widen(request.UserAgent).c_str(),
                                                INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                                0));
    if (session.Get() == nullptr) {
        return false;
    }
    const TInternetHandle connection(InternetConnectW(session.Get(), host, parts.nPort, nullptr,
                                                      nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.Get() == nullptr) {
        return false;
    }
    // Always from the server: a cached version file would hide a new release.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
    }
    const TInternetHandle file(HttpOpenRequestW(connection.Get(), L"GET", path, nullptr, nullptr,
                                               nullptr, flags, 0));
    if (file.Get() == nullptr) {
        return false;
    }
    // Each phase waits no longer than the time-out; set on the request itself, where every
    // WinInet honours it.
    auto timeout = static_cast<DWORD>(std::max<long long>(FTimeout.count(), 1));
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
        InternetSetOptionW(file.Get(), option, &timeout, sizeof timeout);
    }
    if (!HttpSendRequestW(file.Get(), nullptr, 0, nullptr, 0)) {
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::max(request.MaxBytes, 0)));
    DWORD total = 0;
    while (total < buffer.size()) {
        DWORD got = 0;
        if (!InternetReadFile(file.Get(), buffer.data() + total,
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
