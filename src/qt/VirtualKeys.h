#pragma once

// The Windows virtual-key code of a Qt key, as the window logic expects key codes; 0 for
// a key without one that matters here.
int VirtualKeyOf(int qtKey);
