#include <gif_lib.h>

#include <cstring>

#include "engine/error_codes.h"
#include "media/picture_writers.h"
#include "platform/linux/memory.h"

struct qvGifWriter {
    GifFileType* gif;
    qv::OutputFile* file;
    int32_t width;
    int32_t height;
    bool screenWritten;
};

namespace {

int WriteBytes(GifFileType* gif, const GifByteType* data, int size) {
    auto* writer = static_cast<qvGifWriter*>(gif->UserData);
    return writer->file->Write(data, size_t(size)) == 0 ? size : 0;
}

int GifErrorCode(int gifError) {
    return gifError == E_GIF_ERR_NOT_ENOUGH_MEM ? ERR_MEM : ERR_WRITEFILE;
}

// The global colour map: the next power of two of at least max(count, 2) entries, the rest
// black.
ColorMapObject* MakeColourMap(const uint32_t* palette, int32_t count) {
    int size = 2;
    while (size < count) size *= 2;
    ColorMapObject* map = GifMakeMapObject(size, nullptr);
    if (map == nullptr) return nullptr;
    std::memset(map->Colors, 0, sizeof(GifColorType) * size_t(size));
    for (int32_t i = 0; i < count; ++i) {
        map->Colors[i].Red = GifByteType(palette[i] >> 16);
        map->Colors[i].Green = GifByteType(palette[i] >> 8);
        map->Colors[i].Blue = GifByteType(palette[i]);
    }
    return map;
}

int WriteScreen(qvGifWriter* writer, const uint32_t* palette, int32_t count) {
    ColorMapObject* map = MakeColourMap(palette, count);
    if (map == nullptr) return ERR_MEM;
    const int result =
        EGifPutScreenDesc(writer->gif, writer->width, writer->height, map->BitsPerPixel, 0, map);
    GifFreeMapObject(map);
    if (result != GIF_OK) return GifErrorCode(writer->gif->Error);
    writer->screenWritten = true;
    return 0;
}

int WriteControl(qvGifWriter* writer, int32_t transparent, int32_t delay, int32_t disposal) {
    if (transparent < 0 && delay == 0 && disposal == 0) return 0;
    const GifByteType block[4] = {GifByteType(((disposal & 7) << 2) | (transparent >= 0 ? 1 : 0)),
                                  GifByteType(delay & 0xFF), GifByteType((delay >> 8) & 0xFF),
                                  GifByteType(transparent >= 0 ? transparent : 0)};
    if (EGifPutExtension(writer->gif, GRAPHICS_EXT_FUNC_CODE, 4, block) != GIF_OK)
        return GifErrorCode(writer->gif->Error);
    return 0;
}

// giflib masks the indices of a line in place, so each row goes through a copy.
int WriteRows(qvGifWriter* writer, const uint8_t* indices, int32_t width, int32_t height) {
    auto* row = static_cast<GifPixelType*>(AllocMemBlock(size_t(width), 0));
    if (row == nullptr) return ERR_MEM;
    int error = 0;
    for (int32_t y = 0; y < height && error == 0; ++y) {
        std::memcpy(row, indices + size_t(y) * size_t(width), size_t(width));
        if (EGifPutLine(writer->gif, row, width) != GIF_OK)
            error = GifErrorCode(writer->gif->Error);
    }
    FreeMemBlock(row);
    return error;
}

}  // namespace

int BeginGifWriter(qv::OutputFile* file, int32_t width, int32_t height, qvGifWriter** writer) {
    *writer = nullptr;
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ERR_WRONGUSAGE;
    auto* made = static_cast<qvGifWriter*>(AllocMemBlock(sizeof(qvGifWriter), 1));
    if (made == nullptr) return ERR_MEM;
    made->file = file;
    made->width = width;
    made->height = height;
    int error = 0;
    made->gif = EGifOpen(made, WriteBytes, &error);
    if (made->gif == nullptr) {
        FreeMemBlock(made);
        return GifErrorCode(error);
    }
    EGifSetGifVersion(made->gif, true);
    *writer = made;
    return 0;
}

int WriteGifFrame(qvGifWriter* writer, const uint8_t* indices, int32_t width, int32_t height,
                  int32_t, const uint32_t* palette, int32_t colourCount, int32_t transparent,
                  int32_t delay, int32_t disposal) {
    if (colourCount < 1 || colourCount > 256 || width < 1 || height < 1 || width > writer->width ||
        height > writer->height || transparent >= colourCount)
        return ERR_WRONGUSAGE;
    int error = writer->screenWritten ? 0 : WriteScreen(writer, palette, colourCount);
    if (error == 0) error = WriteControl(writer, transparent, delay, disposal);
    if (error == 0 && EGifPutImageDesc(writer->gif, 0, 0, width, height, false, nullptr) != GIF_OK)
        error = GifErrorCode(writer->gif->Error);
    return error != 0 ? error : WriteRows(writer, indices, width, height);
}

int FinishGifWriter(qvGifWriter* writer) {
    int gifError = 0;
    const int result = EGifCloseFile(writer->gif, &gifError);
    // The trailer's write is not checked by giflib; the file's sticky state is.
    const int written = writer->file->Write(nullptr, 0);
    FreeMemBlock(writer);
    if (result != GIF_OK) return GifErrorCode(gifError);
    return written;
}
