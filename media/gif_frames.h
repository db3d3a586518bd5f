// A bounded reader of GIF pictures from memory, still or animated: every image of the file
// becomes one whole frame of the logical screen, composed over the frames before it as each
// image's disposal method says. Sizes and colour indexes are checked against what is present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/linux/blocks.h"

struct qvGifFrames {
    int32_t width = 0, height = 0;               // the logical screen
    std::vector<qv::BlockPtr<uint32_t>> frames;  // width x height ARGB each; alpha 0 where clear
    bool transparent = false;                    // some frame has a clear pixel
};

// Whether the bytes start as a GIF file.
bool IsGifData(std::span<const uint8_t> bytes);
// The logical screen's size and the bits per pixel of the global colour map (else the colour
// resolution) without decoding an image: 0, ERR_LOADPICTURE or ERR_MEM.
int ReadGifScreen(std::span<const uint8_t> bytes, int32_t* width, int32_t* height, int32_t* depth);
// 0 with at least one frame and at most limit (the picture loader takes the first image
// alone); ERR_LOADPICTURE for bytes that are not a readable GIF; ERR_MEM when the frames cannot
// be held (also for a side above the largest bitmap).
int DecodeGifFrames(std::span<const uint8_t> bytes, qvGifFrames* out, size_t limit = SIZE_MAX);
