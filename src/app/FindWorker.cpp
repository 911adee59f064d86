#include "app/FindWorker.h"

#include "stream/FileStream.h"

#include <exception>

TFindWorker::TFindWorker(const std::string& path, const TFindKind& kind, std::int64_t from,
                         bool forward)
    : FKind(kind), FFrom(from), FForward(forward) {
    if (!FStream.Open(path)) {
        FFailure = FStream.OpenError();
        FDone = true;
        return;
    }
    FFileSize = FStream.Size();
    FControl.Reached = from;
    FThread = std::thread([this] { Run(); });
}

TFindWorker::~TFindWorker() {
    Cancel();
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TFindWorker::Run() {
    try {
        TUnitSearch search(FStream);
        FFound = FForward ? search.Next(FKind, FFrom, &FControl)
                          : search.Previous(FKind, FFrom, &FControl);
        if (FControl.Cancel.load()) {
            FFound.reset();
        }
    } catch (const std::exception& e) {
        FFailure = e.what();
        FFound.reset();
    }
    FDone = true; // last: what it publishes is complete
}
