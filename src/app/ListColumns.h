#pragma once

// The NAL list's columns, for both front ends: each caption, and the text each column is
// made wide enough for at the first run (the widest that the column commonly holds).

#include <array>

struct TListColumn {
    const char* Caption;
    const char* Widest;
};

inline constexpr std::array<TListColumn, 5> kListColumns = {{
    {"Offset", "0x0000000000000000"},
    {"Len", "0000000"},
    {"Start Code", "0x0000000141"},
    {"NAL Type", "Coded slice of a non-IDR picture"},
    {"Info", "B  frame_num 15  POC lsb 30  QP 51"},
}};
// The columns that give way, in turn, when the list pane cannot show them all whole: NAL
// Type, then Start Code, each down to a third of its width.
inline constexpr std::array<int, 2> kYieldingColumns = {3, 2};
// What a cell adds to its text's width: the margins either side.
inline constexpr int kCellMargin = 14;
