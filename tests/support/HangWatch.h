#pragma once

// Ends the test program when a step runs far longer than it ever should, so that an
// endless loop fails the suite at once, with its name, instead of stalling it.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class THangWatch {
  public:
    explicit THangWatch(std::string what, std::chrono::seconds limit = std::chrono::seconds(60))
        : FWhat(std::move(what)), FThread([this, limit] {
              std::unique_lock lock(FMutex);
              if (!FDone.wait_for(lock, limit, [this] { return FFinished; })) {
                  std::fprintf(stderr, "hung: %s\n", FWhat.c_str());
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~THangWatch() {
        {
            std::lock_guard lock(FMutex);
            FFinished = true;
        }
        FDone.notify_one();
        FThread.join();
    }
    THangWatch(const THangWatch&) = delete;
    THangWatch& operator=(const THangWatch&) = delete;

  private:
    std::string FWhat;
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread; // last: it starts once the fields above exist
};
