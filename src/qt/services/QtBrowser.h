#pragma once

#include "toolkit/Toolkit.h"

// Opens URLs with the user's default browser.
class TQtBrowser : public IBrowser {
  public:
    void OpenUrl(const std::string& url) override;
};
