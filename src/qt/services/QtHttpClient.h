#pragma once

#include "toolkit/Toolkit.h"

#include <chrono>

struct TQtHttpClientOptions {
    // How long a request may take in all before it counts as unanswered.
    std::chrono::milliseconds Timeout{15000};
    // The system's proxy settings, as a user's browser would use them.
    bool UseSystemProxy = true;
};

// HTTP GET with QNetworkAccessManager. The caller waits in a local event loop that leaves
// user input queued: the window repaints, but cannot be closed or used until the answer
// or the time-out.
class TQtHttpClient : public IHttpClient {
  public:
    explicit TQtHttpClient(TQtHttpClientOptions options = {});
    bool Get(const THttpRequest& request, std::string& body) override;

  private:
    TQtHttpClientOptions FOptions;
};
