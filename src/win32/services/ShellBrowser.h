#pragma once

#include "toolkit/Toolkit.h"

// Opens a URL with the user's default browser (ShellExecuteW, the default verb).
class TShellBrowser : public IBrowser {
  public:
    void OpenUrl(const std::string& url) override;
};
