#include "decode/PictureWorker.h"

#include "stream/FileStream.h"

#include <exception>

TPictureWorker::TPictureWorker(std::function<void()> notify, int decoderThreads)
    : FNotify(std::move(notify)), FDecoderThreads(decoderThreads), FThread([this] { Run(); }) {}

TPictureWorker::~TPictureWorker() {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FQuit = true;
        FCancel = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TPictureWorker::Request(const std::string& path, std::int64_t offset, int width, int height,
                             bool macroblocks) {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FPending = TRequest{path, offset, width, height, macroblocks};
        FResult.reset();
        FCancel = true;
    }
    FWake.notify_all();
}

void TPictureWorker::Cancel() {
    const std::lock_guard<std::mutex> lock(FLock);
    FPending.reset();
    FResult.reset();
    FCancel = true;
}

void TPictureWorker::Forget() {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FPending.reset();
        FResult.reset();
        FForget = true;
        FCancel = true;
    }
    FWake.notify_all();
}

std::optional<TPictureResult> TPictureWorker::Take() {
    const std::lock_guard<std::mutex> lock(FLock);
    std::optional<TPictureResult> result = std::move(FResult);
    FResult.reset();
    return result;
}

std::optional<std::string> TPictureWorker::TakeProgress() {
    const std::lock_guard<std::mutex> lock(FLock);
    std::optional<std::string> line = std::move(FProgressLine);
    FProgressLine.reset();
    return line;
}

std::int64_t TPictureWorker::UnitsSent() const {
    return FUnitsSent.load();
}

void TPictureWorker::Run() {
    for (;;) {
        TRequest request;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FWake.wait(lock, [this] { return FQuit || FPending || FForget; });
            if (FQuit) {
                return;
            }
            if (FForget) {
                FForget = false;
                FUnits.reset();
                FStream.reset();
                FPath.clear();
            }
            if (!FPending) {
                continue;
            }
            request = std::move(*FPending);
            FPending.reset();
            FProgressLine.reset();
            FCancel = false;
            FLastProgress = std::chrono::steady_clock::now();
        }
        TPictureResult result;
        try {
            result = Work(request);
        } catch (...) { // out of memory, say: the thread must go on
            FUnits.reset();
            result = TPictureResult{
                request.Path, request.Offset, {}, {}, "The picture could not be decoded"};
        }
        if (result.Answer.Outcome == TPictureOutcome::Cancelled) {
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(FLock);
            if (FPending || FQuit) {
                continue; // asked for another meanwhile
            }
            FResult = std::move(result);
        }
        if (FNotify) {
            FNotify();
        }
    }
}

TPictureResult TPictureWorker::Work(const TRequest& request) {
    TPictureResult result;
    result.Path = request.Path;
    result.Offset = request.Offset;
    try {
        if (FDecoder && FDecoderMacroblocks != request.Macroblocks) {
            FUnits.reset(); // it decodes with the decoder that goes
            FDecoder.reset();
        }
        if (!FDecoder) {
            FDecoder = CreatePictureDecoder(FDecoderThreads, request.Macroblocks);
            FDecoderMacroblocks = request.Macroblocks;
            if (!FDecoder) {
                result.Line = NoDecoderText();
                return result;
            }
        }
        // The file is read through a handle of its own; a file that changed size since is
        // read afresh.
        if (FUnits && (FPath != request.Path || FStream->Size() != FFileSize)) {
            FUnits.reset();
        }
        if (!FUnits) {
            FStream = std::make_unique<FileStream>();
            if (!FStream->Open(request.Path)) {
                result.Line = FStream->OpenError();
                FStream.reset();
                return result;
            }
            FPath = request.Path;
            FFileSize = FStream->Size();
            FUnits = std::make_unique<TAccessUnitDecoder>(*FStream, FFileSize, *FDecoder);
            // A note now and then while a long run of pictures is decoded.
            FUnits->SetProgress([this](std::int64_t start, TStartKind kind, std::int32_t pictures) {
                constexpr auto kEvery = std::chrono::milliseconds(250);
                const auto now = std::chrono::steady_clock::now();
                if (now - FLastProgress < kEvery) {
                    return;
                }
                FLastProgress = now;
                {
                    const std::lock_guard<std::mutex> lock(FLock);
                    if (FPending || FCancel) {
                        return;
                    }
                    FProgressLine = ProgressLine(start, kind, pictures);
                }
                if (FNotify) {
                    FNotify();
                }
            });
            FSentBefore = FUnitsSent.load();
        }
        result.Answer = FUnits->Decode(request.Offset, &FCancel);
        FUnitsSent = FSentBefore + FUnits->UnitsSent();
    } catch (const std::exception& e) {
        FUnits.reset();
        result.Answer = TPictureAnswer{};
        result.Answer.Message = "Error reading " + request.Path + ": " + e.what();
    }
    if (result.Answer.Outcome == TPictureOutcome::Done) {
        if (!PictureToRgb32(result.Answer.Decoded.Picture, request.Width, request.Height,
                            result.Rgb)) {
            result.Rgb = TRgbPixels{};
        }
        result.Line = PictureLine(result.Answer.Decoded);
    } else if (result.Line.empty()) {
        result.Line = result.Answer.Message;
    }
    return result;
}
