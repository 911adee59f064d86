#pragma once

#include "toolkit/Toolkit.h"

// The screens as Qt sees them; needs the GUI application object.
class TQtMonitors : public IMonitors {
  public:
    std::vector<TScreenRect> WorkAreas() const override;
};
