#pragma once

// What the picture model says of one slice, for the detail tree: its reference lists and
// the decoded picture buffer around its picture. The model is walked from the nearest IDR
// picture before the slice, within bounds of bytes and time, so that a slice deep in a
// large file answers at once or says why it cannot.

#include "stream/FileStream.h"
#include "toolkit/Toolkit.h"

#include <cstdint>
#include <string>
#include <vector>

// How far back an IDR picture is looked for, and how far the walk from it may read.
inline constexpr std::int64_t kPictureAtBytes = 64 << 20;
// How long the look back and the walk may take together.
inline constexpr std::int64_t kPictureAtMilliseconds = 2000;

// One line of the two nodes: depth 0 is a node's own line.
struct TPictureAtLine {
    int Depth = 0;
    std::string Text;
};

// The "Reference lists" and "Decoded picture buffer" nodes of the slice whose unit begins
// at offset, each entry one line. A start that is not an IDR picture, a bound reached or a
// slice the model could not place is said on the nodes' own lines.
std::vector<TPictureAtLine> PictureLinesAt(FileStream& stream, std::int64_t offset,
                                           std::int64_t bytes = kPictureAtBytes,
                                           std::int64_t milliseconds = kPictureAtMilliseconds);

// The same lines added to tree under parent.
void AddPictureLines(const std::vector<TPictureAtLine>& lines, ITreeLines& tree, TTreeLine parent);
