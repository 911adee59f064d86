#pragma once

// A search for the next or previous unit of a kind, run on a thread of its own so that the
// window stays responsive however far the search goes. Toolkit-free: the window polls it
// (Reached for the progress, Done for the end) and cancels it.

#include "model/UnitSearch.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class TFindWorker {
  public:
    // Opens its own read-only handle on path and starts: forward, the first unit of kind
    // at or after from; backward, the last at or before it. A file that cannot be opened
    // ends the search at once with nothing found.
    TFindWorker(const std::string& path, const TFindKind& kind, std::int64_t from, bool forward);
    // Cancels the search and waits for its thread.
    ~TFindWorker();
    TFindWorker(const TFindWorker&) = delete;
    TFindWorker& operator=(const TFindWorker&) = delete;

    void Cancel() { FControl.Cancel = true; }
    bool Cancelled() const { return FControl.Cancel.load(); }
    bool Done() const { return FDone.load(); }
    // Where the search has read to (see TSearchControl), and the file's size.
    std::int64_t Reached() const { return FControl.Reached.load(); }
    std::int64_t FileSize() const { return FFileSize; }
    // Once Done: the unit found, if any, and why the search failed, if it did.
    std::optional<std::int64_t> Found() const { return FFound; }
    const std::string& Failure() const { return FFailure; }

    const TFindKind& Kind() const { return FKind; }
    std::int64_t From() const { return FFrom; }
    bool Forward() const { return FForward; }

  private:
    void Run();

    TFindKind FKind;
    std::int64_t FFrom;
    bool FForward;
    FileStream FStream;
    std::int64_t FFileSize = 0;
    TSearchControl FControl;
    std::optional<std::int64_t> FFound;
    std::string FFailure;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};
