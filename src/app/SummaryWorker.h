#pragma once

// The whole-stream summary, walked on a thread of its own so that the window stays
// responsive; the window takes snapshots of the figures as they come.

#include "stream/FileStream.h"
#include "model/StreamSummary.h"
#include "toolkit/Toolkit.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class TSummaryWorker {
  public:
    // Opens its own handles on path and starts; a file that cannot be opened ends the walk
    // at once with its reason. With a range [first, end), only the access units that begin
    // there are gathered, into buckets over that range.
    explicit TSummaryWorker(const std::string& path, std::int64_t first = 0, std::int64_t end = -1);
    // Cancels the walk and waits for its thread.
    ~TSummaryWorker();
    TSummaryWorker(const TSummaryWorker&) = delete;
    TSummaryWorker& operator=(const TSummaryWorker&) = delete;

    void Cancel() { FControl.Cancel = true; }
    bool Cancelled() const { return FControl.Cancel.load(); }
    bool Done() const { return FDone.load(); }
    std::int64_t Reached() const { return FControl.Reached.load(); }
    std::int64_t FileSize() const { return FFileSize; }
    // The figures so far (all of them once Done), and why the walk failed, if it did.
    TStreamSummary Snapshot() const;
    std::string Failure() const;

  private:
    void Run();

    FileStream FStream;
    std::int64_t FFileSize = 0;
    TSearchControl FControl;
    mutable std::mutex FLock;
    TStreamSummary FShared;
    std::string FFailure;
    std::int64_t FFirst = 0;
    std::int64_t FEnd = -1;
    std::atomic<bool> FDone{false};
    std::thread FThread;
};

// The pane's figures as lines of text.
std::vector<std::string> SummaryFigureLines(const TStreamSummary& summary, bool complete);
// The plot of the buckets that hold pictures.
TSummaryPlot SummaryPlotOf(const TStreamSummary& summary);
