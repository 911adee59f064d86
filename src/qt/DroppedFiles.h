#pragma once

#include "toolkit/Toolkit.h"

#include <string>
#include <vector>

// One drop of files over a list of local paths: files dropped on the NAL list, or the
// paths given on the command line.
class TDroppedFiles : public IDroppedFiles {
  public:
    explicit TDroppedFiles(std::vector<std::string> paths);
    int Count() override;
    std::string Path(int index) override;
    void Finish() override;

  private:
    std::vector<std::string> FPaths;
    bool FFinished = false;
};
