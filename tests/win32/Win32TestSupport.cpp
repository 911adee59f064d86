// Winsock first: it must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "Win32TestSupport.h"

#include "core/WideText.h"

#include <shlobj.h>

#include <cstring>
#include <stdexcept>

void Pump() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

HDROP MakeDrop(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const std::string& path : paths) {
        names += Widen(path);
        names.push_back(L'\0');
    }
    names.push_back(L'\0');
    const std::size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(),
                names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

TRedirectedUserKey::TRedirectedUserKey()
    : FPath(L"Software\\QuilletTests\\User" + std::to_wstring(GetCurrentProcessId())) {
    RegDeleteTreeW(HKEY_CURRENT_USER, FPath.c_str());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, FPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &FKey, nullptr) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_CURRENT_USER, FKey) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot redirect HKEY_CURRENT_USER");
    }
}

TRedirectedUserKey::~TRedirectedUserKey() {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(FKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, FPath.c_str());
}

TLoopbackServer::TLoopbackServer(std::string body, bool silent)
    : FBody(std::move(body)), FSilent(silent) {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    FListener = listener;
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { Serve(); });
}

TLoopbackServer::~TLoopbackServer() {
    FStop = true;
    closesocket(static_cast<SOCKET>(FListener));
    FThread.join();
    WSACleanup();
}

std::string TLoopbackServer::Origin() const {
    return "http://127.0.0.1:" + std::to_string(FPort);
}

std::vector<std::string> TLoopbackServer::Requests() {
    const std::lock_guard lock(FMutex);
    return FRequests;
}

void TLoopbackServer::Serve() {
    std::vector<SOCKET> held;
    while (!FStop) {
        const SOCKET client = accept(static_cast<SOCKET>(FListener), nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            break;
        }
        std::string head;
        char buffer[1024];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            head.append(buffer, static_cast<std::size_t>(got));
        }
        {
            const std::lock_guard lock(FMutex);
            FRequests.push_back(head.substr(0, head.find("\r\n\r\n")));
        }
        if (FSilent) {
            held.push_back(client);
            continue;
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                   std::to_string(FBody.size()) +
                                   "\r\nConnection: close\r\n\r\n" + FBody;
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(client, SD_SEND);
        closesocket(client);
    }
    for (const SOCKET client : held) {
        closesocket(client);
    }
}
