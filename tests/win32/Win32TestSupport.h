#pragma once

// Helpers for the tests of the Windows program under Wine: the message pump, a drop as the
// shell makes one, a registry branch of the test's own in place of the user's, and an HTTP
// server on 127.0.0.1.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Handles every message waiting for this thread.
void Pump();

// A drop of these paths as the shell hands one to WM_DROPFILES, with wide names.
HDROP MakeDrop(const std::vector<std::string>& paths);

// HKEY_CURRENT_USER stands for a fresh key of the test's own (RegOverridePredefKey), so a
// user's settings are never touched; the key goes with this object.
class TRedirectedUserKey {
  public:
    TRedirectedUserKey();
    ~TRedirectedUserKey();
    TRedirectedUserKey(const TRedirectedUserKey&) = delete;
    TRedirectedUserKey& operator=(const TRedirectedUserKey&) = delete;

  private:
    std::wstring FPath;
    HKEY FKey = nullptr;
};

// Answers every GET on 127.0.0.1, on a thread of its own, with Body (status 200), or takes
// the request and says nothing while Silent.
class TLoopbackServer {
  public:
    explicit TLoopbackServer(std::string body, bool silent = false);
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;
    // "http://127.0.0.1:<port>"
    std::string Origin() const;
    // The request heads received so far.
    std::vector<std::string> Requests();

  private:
    void Serve();
    std::string FBody;
    bool FSilent;
    unsigned short FPort = 0;
    std::uintptr_t FListener;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    std::vector<std::string> FRequests;
    std::thread FThread;
};
