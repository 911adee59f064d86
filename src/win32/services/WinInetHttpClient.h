#pragma once

#include "toolkit/Toolkit.h"

#include <chrono>

// HTTP and HTTPS GET with WinInet, with the system's proxy settings. The call blocks the
// thread it runs on; each phase (connect, send, receive) is bounded by the time-out.
class TWinInetHttpClient : public IHttpClient {
  public:
    explicit TWinInetHttpClient(std::chrono::milliseconds timeout = std::chrono::milliseconds(15000))
        : FTimeout(timeout) {}
    bool Get(const THttpRequest& request, std::string& body) override;

  private:
    std::chrono::milliseconds FTimeout;
};
