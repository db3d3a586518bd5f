#include "objects/fonts/font_loading.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/error_codes.h"
#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/platform_fonts.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/files.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/strings.h"

namespace {

constexpr std::string_view kChunkPrefix = ":::chunk";
constexpr int32_t kTopazSize = 8;

// Bits of a linked font's flags word.
enum : uint32_t { kLinkedOutline = 2, kLinkedExtraData = 4 };

enum class LinkedKind { kAny, kBitmap, kOutline };

bool IsChunkName(const char* name) {
    return std::string_view(name).starts_with(kChunkPrefix);
}

// The offset and size of a ":::chunk<offset>:<size>*..." name.
bool ParseChunkName(std::string_view name, uint64_t* offset, uint64_t* size) {
    name.remove_prefix(kChunkPrefix.size());
    const char* end = name.data() + name.size();
    auto [afterOffset, offsetError] = std::from_chars(name.data(), end, *offset);
    if (offsetError != std::errc() || afterOffset == end || *afterOffset != ':') return false;
    auto [afterSize, sizeError] = std::from_chars(afterOffset + 1, end, *size);
    return sizeError == std::errc() && afterSize != end && *afterSize == '*';
}

// Reads a linked font's header and names the font data that follow it. False when the chunk
// cannot be read or the header does not fit it.
bool ReadLinkedHeader(const char* name, LinkedKind* kind, std::string* data) {
    uint64_t offset = 0, size = 0;
    if (!ParseChunkName(name, &offset, &size) || size < 4) return false;
    qv::FilePtr file(FileOpen(name, QV_FILE_READ));
    uint32_t flags = 0, extra = 0;
    if (file == nullptr || !qv::ReadBE(file.get(), 4, &flags)) return false;
    uint64_t header = 4;
    if ((flags & kLinkedOutline) != 0 && (flags & kLinkedExtraData) != 0) {
        // The extra data are for the outline engine of another platform; this one has no use
        // for them.
        if (!qv::ReadBE(file.get(), 4, &extra) || uint64_t(extra) + 8 > size) return false;
        header = uint64_t(extra) + 8;
    }
    *kind = (flags & kLinkedOutline) != 0 ? LinkedKind::kOutline : LinkedKind::kBitmap;
    // The container follows the "/" that ends the linked file's name; an absolute container
    // path holds more "/".
    const char* star = std::strchr(name, '*');
    const char* slash = std::strchr(star, '/');
    if (slash == nullptr) return false;
    *data = MakeChunkPath(name, int64_t(offset + header), size - header, 0, slash + 1);
    return true;
}

int CannotOpen(const char* name, int32_t size) {
    char text[1024];
    std::snprintf(text, sizeof text, "Cannot open font %s with size %ld!", name, long(size));
    return ErrorWithText(ERR_OPENFONT, text);
}

// Whether a linked ":::chunk" name is a TrueType or OpenType file linked as a plain file:
// its data are the font file itself, with no linked-font header before them.
bool LinkedAsPlainFile(const char* name) {
    std::string_view file;
    return qv::VirtualFileName(name, &file) && qv::IsFontFileName(file);
}

bool OpenNative(const char* name, int32_t size, LinkedKind kind, qvFont* font) {
    if (kind != LinkedKind::kOutline && IsChunkName(name) &&
        LoadBitmapFont(name, size, font, nullptr) != 0)
        return true;
    return kind != LinkedKind::kBitmap && OpenFontPlatform(name, size, font) != 0;
}

}  // namespace

int OpenFontByName(const char* name, int32_t size, int engine, int cache, int linked, qvFont** font,
                   const char* shown) {
    *font = nullptr;
    if (shown == nullptr) shown = name;
    LinkedKind kind = LinkedKind::kAny;
    std::string data = name;
    if (linked != 0 && IsChunkName(name)) {
        if (LinkedAsPlainFile(name)) {
            kind = LinkedKind::kOutline;
        } else if (!ReadLinkedHeader(name, &kind, &data)) {
            return ErrorWithText(ERR_READFILE, shown);
        }
    }
    if (size < 1) return CannotOpen(shown, size);
    if (engine == QV_FONTREQUEST_NATIVE && size == kTopazSize && StrICmp(name, "topaz") == 0) {
        *font = DefaultFont();
        return 0;
    }
    qvFont* record = NewFontRecord();
    if (record == nullptr) return ERR_MEM;
    bool opened = false;
    if (engine == QV_FONTREQUEST_NATIVE) {
        opened = OpenNative(data.c_str(), size, kind, record);
    } else if (engine == QV_FONTREQUEST_INBUILT && kind != LinkedKind::kBitmap) {
        opened = OpenTrueTypeFont(data.c_str(), size, cache, record) != 0;
    }
    if (!opened) {
        FreeFontRecord(record);
        return CannotOpen(shown, size);
    }
    *font = record;
    return 0;
}
