#include "media/gif_frames.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

struct MemoryReader {
    std::span<const uint8_t> bytes;
    size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* into, int count) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const size_t n = std::min(size_t(std::max(count, 0)), reader->bytes.size() - reader->position);
    std::memcpy(into, reader->bytes.data() + reader->position, n);
    reader->position += n;
    return int(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// Opens the bytes that the reader holds (it must outlive the file).
int OpenGif(MemoryReader* reader, GifPtr* out) {
    if (!IsGifData(reader->bytes)) return ERR_LOADPICTURE;
    int error = 0;
    out->reset(DGifOpen(reader, ReadFromMemory, &error));
    if (*out == nullptr) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? ERR_MEM : ERR_LOADPICTURE;
    return 0;
}

// The image being read: its place on the screen, its colours and how it is disposed of.
struct Image {
    int32_t left, top, width, height;
    const ColorMapObject* colours;
    bool interlaced;
    GraphicsControlBlock control;
};

// Rows of an interlaced image come in four passes.
std::vector<int32_t> RowOrder(int32_t height, bool interlaced) {
    std::vector<int32_t> order;
    order.reserve(size_t(height));
    if (!interlaced) {
        for (int32_t y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    constexpr int32_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int32_t y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
    }
    return order;
}

class Composer {
public:
    Composer(GifFileType* gif, qvGifFrames* out, size_t limit)
        : gif_(gif), out_(out), limit_(limit) {}

    int Run() {
        out_->width = gif_->SWidth, out_->height = gif_->SHeight;
        if (out_->width < 1 || out_->height < 1) return ERR_LOADPICTURE;
        if (out_->width > kMaxBitMapSide || out_->height > kMaxBitMapSide) return ERR_MEM;
        pixels_ = size_t(out_->width) * size_t(out_->height);
        canvas_.reset(NewCanvas(true));
        if (!canvas_) return ERR_MEM;
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        for (;;) {
            GifRecordType record = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif_, &record) == GIF_ERROR) return Ended();
            if (record == TERMINATE_RECORD_TYPE) return Ended();
            if (record == EXTENSION_RECORD_TYPE) {
                if (!ReadExtension(&control)) return Ended();
            } else if (record == IMAGE_DESC_RECORD_TYPE) {
                if (const int code = ReadImage(control)) return code;
                if (out_->frames.size() >= limit_) return 0;
                control = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
            }
        }
    }

private:
    uint32_t* NewCanvas(bool clear) {
        return static_cast<uint32_t*>(AllocMemBlock(pixels_ * sizeof(uint32_t), clear ? 1 : 0));
    }

    // A file cut short after its first image still shows what it has.
    int Ended() const { return out_->frames.empty() ? ERR_LOADPICTURE : 0; }

    bool ReadExtension(GraphicsControlBlock* control) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR) return false;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            DGifExtensionToGCB(block[0], block + 1, control);
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR) return false;
        }
        return true;
    }

    int ReadImage(const GraphicsControlBlock& control) {
        if (DGifGetImageDesc(gif_) == GIF_ERROR) return Ended();
        const GifImageDesc& d = gif_->Image;
        const Image image{d.Left,
                          d.Top,
                          d.Width,
                          d.Height,
                          d.ColorMap != nullptr ? d.ColorMap : gif_->SColorMap,
                          d.Interlace,
                          control};
        if (image.width < 1 || image.height < 1 || image.colours == nullptr) return Ended();
        BlockPtr<uint32_t> previous;
        if (image.control.DisposalMode == DISPOSE_PREVIOUS) {
            previous.reset(NewCanvas(false));
            if (!previous) return ERR_MEM;
            std::memcpy(previous.get(), canvas_.get(), pixels_ * sizeof(uint32_t));
        }
        const bool whole = ReadRows(image);
        if (const int code = KeepFrame()) return code;
        if (!whole) return 0;
        Dispose(image, previous.get());
        return 0;
    }

    // Draws the image's rows onto the canvas; false when the data ends early (the rows read
    // so far stay).
    bool ReadRows(const Image& image) {
        BlockPtr<GifPixelType> row(
            static_cast<GifPixelType*>(AllocMemBlock(size_t(image.width), 0)));
        if (!row) return false;
        for (int32_t y : RowOrder(image.height, image.interlaced)) {
            if (DGifGetLine(gif_, row.get(), image.width) == GIF_ERROR) return false;
            DrawRow(image, y, row.get());
        }
        return true;
    }

    void DrawRow(const Image& image, int32_t y, const GifPixelType* row) {
        const int64_t screenY = int64_t(image.top) + y;
        if (screenY >= out_->height) return;
        uint32_t* line = canvas_.get() + size_t(screenY) * size_t(out_->width);
        const int32_t count = int32_t(std::min<int64_t>(image.width, out_->width - image.left));
        for (int32_t x = 0; x < count; ++x) {
            const int index = row[x];
            if (index == image.control.TransparentColor) continue;
            if (index >= image.colours->ColorCount) continue;
            const GifColorType& c = image.colours->Colors[index];
            line[image.left + x] =
                0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | uint32_t(c.Blue);
        }
    }

    int KeepFrame() {
        BlockPtr<uint32_t> frame(NewCanvas(false));
        if (!frame) return ERR_MEM;
        std::memcpy(frame.get(), canvas_.get(), pixels_ * sizeof(uint32_t));
        for (size_t i = 0; i < pixels_ && !out_->transparent; ++i) {
            out_->transparent = frame.get()[i] >> 24 == 0;
        }
        out_->frames.push_back(std::move(frame));
        return 0;
    }

    void Dispose(const Image& image, const uint32_t* previous) {
        if (image.control.DisposalMode == DISPOSE_PREVIOUS && previous != nullptr) {
            std::memcpy(canvas_.get(), previous, pixels_ * sizeof(uint32_t));
        } else if (image.control.DisposalMode == DISPOSE_BACKGROUND) {
            const int64_t left = std::min<int64_t>(image.left, out_->width);
            const int64_t right = std::min<int64_t>(int64_t(image.left) + image.width, out_->width);
            const int64_t bottom =
                std::min<int64_t>(int64_t(image.top) + image.height, out_->height);
            for (int64_t y = image.top; y < bottom; ++y) {
                uint32_t* line = canvas_.get() + size_t(y) * size_t(out_->width);
                std::fill(line + left, line + right, 0u);
            }
        }
    }

    GifFileType* gif_;
    qvGifFrames* out_;
    size_t limit_;
    size_t pixels_ = 0;
    BlockPtr<uint32_t> canvas_;
};

}  // namespace
}  // namespace qv

bool IsGifData(std::span<const uint8_t> bytes) {
    return bytes.size() >= 6 && std::memcmp(bytes.data(), "GIF8", 4) == 0 &&
           (bytes[4] == '7' || bytes[4] == '9') && bytes[5] == 'a';
}

int ReadGifScreen(std::span<const uint8_t> bytes, int32_t* width, int32_t* height, int32_t* depth) {
    qv::MemoryReader reader{bytes};
    qv::GifPtr gif;
    if (const int code = qv::OpenGif(&reader, &gif)) return code;
    if (gif->SWidth < 1 || gif->SHeight < 1) return ERR_LOADPICTURE;
    *width = gif->SWidth, *height = gif->SHeight;
    *depth = gif->SColorMap != nullptr ? gif->SColorMap->BitsPerPixel : gif->SColorResolution;
    return 0;
}

int DecodeGifFrames(std::span<const uint8_t> bytes, qvGifFrames* out, size_t limit) {
    qv::MemoryReader reader{bytes};
    qv::GifPtr gif;
    if (const int code = qv::OpenGif(&reader, &gif)) return code;
    *out = {};
    const int code = qv::CatchAllocFailure(
        int{ERR_MEM}, [&] { return qv::Composer(gif.get(), out, limit).Run(); });
    if (code != 0) *out = {};
    return code;
}
