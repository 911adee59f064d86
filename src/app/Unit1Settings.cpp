#include "app/Unit1.h"

// The window settings and the update check. To be filled by the settings work; until
// then the window starts with its design values and never checks.

void TForm1::LoadRegistrySettings() {}

void TForm1::SaveRegistrySettings() {}

void TForm1::CheckForUpdates1Click() {}

void TForm1::tmUpdateTimer() {}
