#include "qt/DroppedFiles.h"

#include <utility>

TDroppedFiles::TDroppedFiles(std::vector<std::string> paths) : FPaths(std::move(paths)) {}

int TDroppedFiles::Count() {
    return FFinished ? 0 : static_cast<int>(FPaths.size());
}

std::string TDroppedFiles::Path(int index) {
    if (FFinished || index < 0 || index >= static_cast<int>(FPaths.size())) {
        return {};
    }
    return FPaths[static_cast<std::size_t>(index)];
}

void TDroppedFiles::Finish() {
    FFinished = true;
}
