#include "media/frame_cut.h"

#include "engine/error_codes.h"

int ResolveFrameCut(const qvFrameCut& cut, int32_t pictureWidth, int32_t pictureHeight,
                    qvFrameGrid* out) {
    if (cut.x < 0 || cut.y < 0 || cut.x >= pictureWidth || cut.y >= pictureHeight) {
        return ERR_COORDSRANGE;
    }
    const int32_t frames = cut.frames.value_or(1);
    if (frames < 1) return ERR_BADDIMENSIONS;
    const int32_t across = pictureWidth - cut.x;
    // Left out, a frame takes its share of the picture: of a strip by the frames, of a sheet
    // by the frames per row and the rows they fill.
    const int32_t shareAcross = cut.perRow ? *cut.perRow : frames;
    const int32_t rowsDown = cut.perRow && *cut.perRow >= 1 ? (frames - 1) / *cut.perRow + 1 : 1;
    if (shareAcross < 1) return ERR_BADDIMENSIONS;
    const int32_t width = cut.width.value_or(across / shareAcross);
    const int32_t height = cut.height.value_or((pictureHeight - cut.y) / rowsDown);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    const int32_t perRow = cut.perRow.value_or(across / width);
    if (perRow < 1) return cut.perRow ? ERR_BADDIMENSIONS : ERR_COORDSRANGE;
    // The last frame of the first row and the first frame of the last row bound the sheet.
    const int64_t columns = frames < perRow ? frames : perRow;
    const int64_t rows = (int64_t(frames) + perRow - 1) / perRow;
    if (cut.x + columns * width > pictureWidth || cut.y + rows * height > pictureHeight) {
        return ERR_COORDSRANGE;
    }
    *out = {width, height, frames, perRow, cut.x, cut.y};
    return 0;
}

void FrameOrigin(const qvFrameGrid& grid, int32_t index, int32_t* x, int32_t* y) {
    *x = grid.x + (index % grid.perRow) * grid.width;
    *y = grid.y + (index / grid.perRow) * grid.height;
}
