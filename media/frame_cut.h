// How frames of equal size are cut from one picture: "width" x "height" frames from (x, y),
// "frames" of them, "fpr" per row, left to right and then one frame height lower. Shared by
// every loader that makes frames of a strip or a sheet.
#pragma once

#include <cstdint>
#include <optional>

struct qvFrameCut {
    std::optional<int32_t> width, height;  // of each frame
    std::optional<int32_t> frames;
    std::optional<int32_t> perRow;
    int32_t x = 0, y = 0;  // of the first frame

    // Whether anything asks for a cut (else a loader may take a file's own frames).
    bool Given() const { return width || height || frames || perRow || x != 0 || y != 0; }
};

// The cut of one picture, every part known.
struct qvFrameGrid {
    int32_t width, height, frames, perRow, x, y;
};

// Fills in what the cut leaves out for a picture of that size: one frame; frames sharing the
// picture from (x, y), across by the frames of a strip or the frames per row of a sheet and
// down by the rows they fill; as many per row as fit. 0, ERR_BADDIMENSIONS for a count or a
// size below 1, ERR_COORDSRANGE when some frame leaves the picture.
int ResolveFrameCut(const qvFrameCut& cut, int32_t pictureWidth, int32_t pictureHeight,
                    qvFrameGrid* out);
// The top-left corner of frame index (from 0) in the picture.
void FrameOrigin(const qvFrameGrid& grid, int32_t index, int32_t* x, int32_t* y);
