#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"
#include "cli/JsonTree.h"

#include "stream/FileStream.h"
#include "model/StreamSummary.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

namespace {

std::string Field(const char* name, std::int64_t value) {
    return std::string("\"") + name + "\":" + std::to_string(value);
}

std::string SummaryJson(const std::string& path, const TStreamSummary& s) {
    std::string json = "{\"file\":" + JsonString(path) + ",\n" + Field("size", s.Size) + ",\n";
    json += "\"units_by_type\":{";
    bool first = true;
    for (std::size_t type = 0; type < s.UnitsByType.size(); ++type) {
        if (s.UnitsByType[type] > 0) {
            json += (first ? "\"" : ",\"") + std::to_string(type) +
                    "\":" + std::to_string(s.UnitsByType[type]);
            first = false;
        }
    }
    json += "},\n\"pictures\":{" + Field("total", s.Pictures) + "," + Field("I", s.BySliceType[2]) +
            "," + Field("P", s.BySliceType[0]) + "," + Field("B", s.BySliceType[1]) + "," +
            Field("SI", s.BySliceType[4]) + "," + Field("SP", s.BySliceType[3]) + "," +
            Field("IDR", s.Idr) + "},\n";
    if (s.GopCount > 0) {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.3f",
                      static_cast<double>(s.GopTotal) / static_cast<double>(s.GopCount));
        json += "\"gop\":{" + Field("min", s.GopMin) + ",\"mean\":" + mean + "," +
                Field("max", s.GopMax) + "},\n";
    } else {
        json += "\"gop\":{\"min\":null,\"mean\":null,\"max\":null},\n";
    }
    json += "\"sps\":[";
    for (std::size_t i = 0; i < s.Sps.size(); ++i) {
        const TSummarySps& sps = s.Sps[i];
        json += std::string(i > 0 ? ",\n" : "\n") + "{" + Field("id", sps.Id) +
                ",\"profile\":" + JsonString(sps.Profile) + ",\"level\":" + JsonString(sps.Level) +
                "," + Field("width", sps.Width) + "," + Field("height", sps.Height) +
                ",\"frame_rate\":" + (sps.FrameRate.empty() ? "null" : sps.FrameRate) +
                ",\"interlaced\":" + (sps.Interlaced ? "true" : "false") + "," +
                Field("first_offset", sps.FirstOffset) + "," + Field("count", sps.Count) +
                (sps.EndsEarly ? ",\"ends_early\":true" : "") + "}";
    }
    json += "],\n";
    if (s.SpsNotKept > 0) {
        json += Field("sps_not_listed", s.SpsNotKept) + ",\n";
    }
    // Says in words what a file without pictures holds.
    if (s.Pictures == 0) {
        json += "\"note\":" +
                JsonString(s.Units == 0 ? "no NAL units"
                           : s.UnitsByType[7] + s.UnitsByType[8] == s.Units
                               ? "only parameter sets, no pictures"
                               : "no pictures") +
                ",\n";
    }
    json += "\"buckets\":[";
    first = true;
    for (const TSummaryBucket& b : s.Buckets) {
        if (b.Pictures == 0) {
            continue;
        }
        json += std::string(first ? "\n{" : ",\n{") + Field("first_offset", b.FirstOffset) + "," +
                Field("pictures", b.Pictures) + "," + Field("bytes", b.Bytes) + "," +
                Field("largest", b.Largest) + "," + Field("I", b.I) + "," + Field("P", b.P) + "," +
                Field("B", b.B) + "}";
        first = false;
    }
    json += "\n]}\n";
    return json;
}

} // namespace

void PrintSummary(FileStream& stream, const std::string& path, std::ostream& out,
                  std::ostream* progress) {
    TStreamSummary summary;
    if (progress == nullptr) {
        WalkStreamSummary(stream, summary);
    } else {
        // The walk runs beside a line that says how far it has come.
        TSearchControl control;
        std::exception_ptr failure;
        std::thread walk([&] {
            try {
                WalkStreamSummary(stream, summary, &control);
            } catch (...) {
                failure = std::current_exception();
            }
            control.Cancel = true; // done: the line stops
        });
        const std::int64_t size = std::max<std::int64_t>(stream.Size(), 1);
        while (!control.Cancel.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            char line[64];
            std::snprintf(line, sizeof line, "\rsummary: %5.1f %%",
                          100.0 * static_cast<double>(control.Reached.load()) /
                              static_cast<double>(size));
            *progress << line << std::flush;
        }
        walk.join();
        *progress << "\r                \r" << std::flush;
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    Write(out, SummaryJson(path, summary));
}
