#include "qt/VirtualKeys.h"

#include "toolkit/Toolkit.h"

#include <Qt>

#include <utility>

namespace {

constexpr std::pair<int, int> kNamedKeys[] = {
    {Qt::Key_PageUp, Key::PageUp}, {Qt::Key_PageDown, Key::PageDown},
    {Qt::Key_End, Key::End},       {Qt::Key_Home, Key::Home},
    {Qt::Key_Up, Key::Up},         {Qt::Key_Down, Key::Down},
    {Qt::Key_Left, 0x25},          {Qt::Key_Right, 0x27},
    {Qt::Key_Backspace, 0x08},     {Qt::Key_Tab, 0x09},
    {Qt::Key_Return, 0x0D},        {Qt::Key_Enter, 0x0D},
    {Qt::Key_Shift, 0x10},         {Qt::Key_Control, 0x11},
    {Qt::Key_Alt, 0x12},           {Qt::Key_Escape, 0x1B},
    {Qt::Key_Space, 0x20},         {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},
};

} // namespace

int VirtualKeyOf(int qtKey) {
    // Letters and digits share their codes with the upper-case ASCII characters.
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
        return qtKey;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) {
        return 0x70 + (qtKey - Qt::Key_F1);
    }
    for (const auto& [key, code] : kNamedKeys) {
        if (key == qtKey) {
            return code;
        }
    }
    return 0;
}
