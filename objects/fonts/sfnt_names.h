// Reading sfnt font files (".ttf", ".otf", ".ttc", ".dfont") as far as the font scan needs
// them: family and style names, the members of a collection, the faces of a resource file,
// and a collection member copied out as a font file of its own.
//
// Font files come from anywhere, so every offset, count and length read from one is checked
// against the size of the bytes before it is used: a read that would leave them fails, and
// with it the face.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/files.h"

namespace qv::fonts {

// A font file's bytes, read at offsets from their start.
class FontBytes {
public:
    explicit FontBytes(uint64_t size) : size_(size) {}
    virtual ~FontBytes() = default;

    uint64_t size() const { return size_; }
    // Whether count bytes at offset lie inside, computed without overflow.
    bool Fits(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    // False when the bytes do not lie wholly inside or cannot be read.
    bool Read(uint64_t offset, void* out, size_t count) {
        return Fits(offset, count) && ReadAt(offset, out, count);
    }
    // Big-endian words.
    bool U16(uint64_t offset, uint32_t* value);
    bool U32(uint64_t offset, uint32_t* value);

protected:
    virtual bool ReadAt(uint64_t offset, void* out, size_t count) = 0;

private:
    uint64_t size_;
};

class MemoryFontBytes final : public FontBytes {
public:
    explicit MemoryFontBytes(std::span<const uint8_t> bytes)
        : FontBytes(bytes.size()), bytes_(bytes) {}

private:
    bool ReadAt(uint64_t offset, void* out, size_t count) override;
    std::span<const uint8_t> bytes_;
};

// length bytes of an open file from base on (the file stays the caller's).
class FileFontBytes final : public FontBytes {
public:
    FileFontBytes(qvFile* file, int64_t base, uint64_t length)
        : FontBytes(length), file_(file), base_(base) {}

private:
    bool ReadAt(uint64_t offset, void* out, size_t count) override;
    qvFile* file_;
    int64_t base_;
};

// count bytes of other bytes from base on, which the caller checked to fit.
class WindowFontBytes final : public FontBytes {
public:
    WindowFontBytes(FontBytes& bytes, uint64_t base, uint64_t count)
        : FontBytes(count), bytes_(bytes), base_(base) {}

private:
    bool ReadAt(uint64_t offset, void* out, size_t count) override {
        return bytes_.Read(base_ + offset, out, count);
    }
    FontBytes& bytes_;
    uint64_t base_;
};

// Names are kept to 511 bytes; a longer one makes the whole reading fail.
inline constexpr size_t kSfntNameMax = 511;

struct SfntNames {
    char family[kSfntNameMax + 1];
    char style[kSfntNameMax + 1];
};

// The number of tables of the face whose table directory is at directory: its version is
// 0x00010000, "OTTO" or "true", and the directory and every table it lists (table offsets
// count from the start of bytes) lie inside. 0 when the face is not usable.
uint32_t CheckSfntFace(FontBytes& bytes, uint64_t directory);

// Family (name id 1) and style (2) of a face that CheckSfntFace accepted, from the name
// records of Macintosh English, Windows English and any other platform; the zero bytes of a
// string are dropped, so UTF-16 text of ASCII characters reads as ASCII. False when the face
// has no naming table, a record lies outside or a string used is longer than 511 bytes.
bool ReadSfntNames(FontBytes& bytes, uint64_t directory, uint32_t tableCount, SfntNames* names);

// A collection ("ttcf"): its member count when the count and the offsets all fit, else 0;
// then the table directory of member index (below that count).
uint32_t CollectionMemberCount(FontBytes& bytes);
bool CollectionMember(FontBytes& bytes, uint32_t index, uint64_t* directory);

// The faces of a resource font file: from offset 256 on, each a 32-bit length and that many
// bytes. *at starts at kFirstResource; each call yields the next face's base and length and
// moves *at past it; false at the end or when a length runs past the end.
inline constexpr uint64_t kFirstResource = 256;
bool NextResourceFace(FontBytes& bytes, uint64_t* at, uint64_t* base, uint64_t* length);

// Where ExtractSfntMember writes.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(const void* data, size_t count) = 0;
};

// Copies the face at directory (a collection member) into a font file of its own: the table
// directory with every table's offset moved to where the table follows in the new file
// (tables 4-byte aligned), then the tables. Refused (false, possibly after some writes)
// when CheckSfntFace refuses the face, when its tables together are larger than the file,
// or when a read or write fails.
bool ExtractSfntMember(FontBytes& bytes, uint64_t directory, ByteSink& out);

}  // namespace qv::fonts
