#include "app/SummaryWorker.h"

#include "stream/H264Utils.h"

#include <cstdio>
#include <exception>

TSummaryWorker::TSummaryWorker(const std::string& path, std::int64_t first, std::int64_t end)
    : FFirst(first), FEnd(end) {
    if (!FStream.Open(path)) {
        FFailure = FStream.OpenError();
        FDone = true;
        return;
    }
    FFileSize = FStream.Size();
    FThread = std::thread([this] { Run(); });
}

TSummaryWorker::~TSummaryWorker() {
    Cancel();
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TSummaryWorker::Run() {
    try {
        TStreamSummary summary;
        TStreamSummaryWalk walk(FStream, summary, FFirst, FEnd);
        walk.Run(&FControl, [this](const TStreamSummary& sofar) {
            const std::lock_guard lock(FLock);
            FShared = sofar;
        });
        const std::lock_guard lock(FLock);
        FShared = std::move(summary);
    } catch (const std::exception& e) {
        const std::lock_guard lock(FLock);
        FFailure = e.what();
    }
    FDone = true;
}

TStreamSummary TSummaryWorker::Snapshot() const {
    const std::lock_guard lock(FLock);
    return FShared;
}

std::string TSummaryWorker::Failure() const {
    const std::lock_guard lock(FLock);
    return FFailure;
}

namespace {

std::string Count(const char* name, std::int64_t value) {
    return std::string(name) + " " + std::to_string(value);
}

} // namespace

std::vector<std::string> SummaryFigureLines(const TStreamSummary& s, bool complete) {
    std::vector<std::string> lines;
    const auto& t = s.BySliceType;
    lines.push_back("Pictures: " + std::to_string(s.Pictures) + " (" + Count("I", t[2]) + ", " +
                    Count("P", t[0]) + ", " + Count("B", t[1]) + ", " + Count("IDR", s.Idr) +
                    (t[3] + t[4] > 0 ? ", " + Count("SP", t[3]) + ", " + Count("SI", t[4]) : "") +
                    ")");
    if (s.GopCount > 0) {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.1f",
                      static_cast<double>(s.GopTotal) / static_cast<double>(s.GopCount));
        lines.push_back("GOP: min " + std::to_string(s.GopMin) + ", mean " + mean + ", max " +
                        std::to_string(s.GopMax) + " pictures");
    } else {
        lines.push_back(complete ? "GOP: no second IDR picture" : "GOP: -");
    }
    for (const TSummarySps& sps : s.Sps) {
        lines.push_back("SPS " + std::to_string(sps.Id) + ": " + sps.Profile + "  " + sps.Level +
                        "  " + std::to_string(sps.Width) + "x" + std::to_string(sps.Height) +
                        (sps.Interlaced ? "  interlaced" : "") +
                        (sps.FrameRate.empty() ? "" : "  " + sps.FrameRate + " fps") +
                        (sps.Count > 1 ? "  (" + std::to_string(sps.Count) + " times)" : ""));
    }
    std::string units = "Units: " + std::to_string(s.Units);
    std::string byType;
    for (std::size_t type = 0; type < s.UnitsByType.size(); ++type) {
        if (s.UnitsByType[type] > 0) {
            byType += (byType.empty() ? "" : ", ") + std::string("type ") + std::to_string(type) +
                      ": " + std::to_string(s.UnitsByType[type]);
        }
    }
    lines.push_back(units + (byType.empty() ? "" : " (" + byType + ")"));
    if (complete && s.Pictures == 0) {
        lines.push_back(s.Units == 0 ? "The file holds no NAL unit."
                        : s.UnitsByType[7] + s.UnitsByType[8] == s.Units
                            ? "The file holds parameter sets only, no pictures."
                            : "The file holds no pictures.");
    }
    return lines;
}

TSummaryPlot SummaryPlotOf(const TStreamSummary& s) {
    TSummaryPlot plot;
    plot.FileSize = s.Size;
    plot.BucketWidth = s.BucketWidth;
    plot.RangeFirst = s.RangeFirst;
    // An interlaced stream's access units may be fields: no rate is drawn for them.
    for (const TSummarySps& sps : s.Sps) {
        if (sps.FramesPerSecond > 0 && !sps.Interlaced) {
            plot.PicturesPerSecond = sps.FramesPerSecond;
            break;
        }
    }
    for (const TSummaryBucket& b : s.Buckets) {
        if (b.Pictures > 0) {
            plot.Bars.push_back({b.FirstOffset, b.Pictures, b.Bytes, b.Largest, b.LargestOffset,
                                 b.LargestSlice, b.LargestSliceLength, b.LargestType, b.LargestIdr,
                                 b.I, b.P, b.B, b.Idr});
        }
    }
    return plot;
}
