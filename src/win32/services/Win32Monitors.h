#pragma once

#include "toolkit/Toolkit.h"

// The work areas of the screens, the primary first.
class TWin32Monitors : public IMonitors {
  public:
    std::vector<TScreenRect> WorkAreas() const override;
};
