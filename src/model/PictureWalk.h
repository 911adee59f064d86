#pragma once

// Feeds the picture model from a walk over a whole stream, file or standard input, in
// fixed memory.

#include "model/PictureModel.h"
#include "stream/FileStream.h"

// Every access unit of stream, from its first byte, told to model, which is then finished.
void WalkPictures(FileStream& stream, TPictureModel& model);
