#pragma once

// Decodes pictures on a thread of its own, so that the window never waits on the decoder.
// A new request cancels the one under way; the decoding state stays between requests, so
// that stepping forward through a run of pictures costs one picture a step.

#include "decode/AccessUnitDecoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct TPictureResult {
    std::string Path;
    std::int64_t Offset = 0;
    TPictureAnswer Answer;
    // The picture for the window, fitted into the area asked for; no pixels when the answer
    // has no picture.
    TRgbPixels Rgb;
    // The line under the picture: its facts, or why there is none.
    std::string Line;
};

class TPictureWorker {
  public:
    // notify runs on the worker's thread whenever a result is ready to be taken.
    explicit TPictureWorker(std::function<void()> notify, int decoderThreads = 0);
    // Cancels what is under way and waits for the thread.
    ~TPictureWorker();
    TPictureWorker(const TPictureWorker&) = delete;
    TPictureWorker& operator=(const TPictureWorker&) = delete;

    // The picture of the unit at offset of the file at path, to be shown within width x
    // height (0 x 0: at full size); what was asked before and is not done yet is given up.
    // macroblocks: the picture comes with its macroblock map (a decoder that gives them
    // starts afresh when this changes).
    void Request(const std::string& path, std::int64_t offset, int width = 0, int height = 0,
                 bool macroblocks = false);
    // Gives up what is under way.
    void Cancel();
    // Gives up what is under way, and lets go of the file.
    void Forget();
    // The result of the latest request, once; none while it is under way.
    std::optional<TPictureResult> Take();
    // While the latest request is under way, a line on how far it got (ProgressLine), once
    // each time notify said so.
    std::optional<std::string> TakeProgress();

    // Statistics of the decoding in use, for the tests and the benchmark.
    std::int64_t UnitsSent() const;

  private:
    struct TRequest {
        std::string Path;
        std::int64_t Offset = 0;
        int Width = 0;
        int Height = 0;
        bool Macroblocks = false;
    };
    void Run();
    TPictureResult Work(const TRequest& request);

    std::function<void()> FNotify;
    int FDecoderThreads;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::optional<TRequest> FPending;
    std::optional<TPictureResult> FResult;
    std::optional<std::string> FProgressLine;
    std::chrono::steady_clock::time_point FLastProgress;
    bool FForget = false;
    bool FQuit = false;
    std::atomic<bool> FCancel{false};
    std::atomic<std::int64_t> FUnitsSent{0};
    // Used by the thread only.
    std::string FPath;
    std::unique_ptr<FileStream> FStream;
    std::unique_ptr<IPictureDecoder> FDecoder;
    bool FDecoderMacroblocks = false;
    std::unique_ptr<TAccessUnitDecoder> FUnits;
    std::int64_t FFileSize = 0;
    std::int64_t FSentBefore = 0;
    std::thread FThread;
};

// What the picture pane says in a build without a decoder.
inline constexpr const char* kBuiltWithoutDecoder = "built without a decoder";
