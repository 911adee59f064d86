#pragma once

// A small HTTP server on 127.0.0.1 for the tests, on a port the system picks. It runs on
// the test's own thread: it answers while the client under test waits in its event loop.

#include <QTcpServer>

#include <cstdint>
#include <string>
#include <vector>

struct TCannedResponse {
    int Status = 200;
    std::string Body;
    // Takes the request and never answers.
    bool Silent = false;
};

class LoopbackHttpServer {
  public:
    LoopbackHttpServer();
    // "http://127.0.0.1:<port>"
    std::string Origin() const;
    TCannedResponse Response;
    // The head (request line and headers) of every request received.
    std::vector<std::string> Requests;

  private:
    QTcpServer FServer;
};
