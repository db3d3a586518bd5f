#include "objects/fonts/sfnt_names.h"

#include <algorithm>
#include <cstring>

#include "platform/linux/blocks.h"
#include "platform/linux/byte_order.h"

namespace qv::fonts {
namespace {

constexpr uint64_t kDirectoryHeader = 12;
constexpr uint64_t kTableRecord = 16;
constexpr uint64_t kNameRecord = 12;
constexpr uint32_t kCollectionTag = 0x74746366;  // "ttcf"
constexpr size_t kCopyBuffer = 65536;

enum : uint32_t { kPlatformMacintosh = 1, kPlatformWindows = 3 };
enum : uint32_t { kNameFamily = 1, kNameStyle = 2 };

bool IsSfntVersion(uint32_t version) {
    return version == 0x00010000 || version == 0x4F54544F /* "OTTO" */ ||
           version == 0x74727565 /* "true" */;
}

// The Windows language ids of English.
bool IsEnglishWindows(uint32_t language) {
    for (uint32_t id : {0x409u, 0x809u, 0xC09u, 0x1009u, 0x1409u, 0x1809u, 0x1C09u, 0x4009u}) {
        if (language == id) return true;
    }
    return false;
}

bool UsedRecord(uint32_t platform, uint32_t language) {
    if (platform == kPlatformMacintosh) return language == 0;
    if (platform == kPlatformWindows) return IsEnglishWindows(language);
    return true;
}

bool IsNameTag(const uint8_t tag[4]) {
    const char name[] = "name";
    for (int i = 0; i < 4; ++i) {
        uint8_t c = tag[i] >= 'A' && tag[i] <= 'Z' ? uint8_t(tag[i] + 32) : tag[i];
        if (c != uint8_t(name[i])) return false;
    }
    return true;
}

// Reads the string of a name record into out without its zero bytes.
bool ReadNameString(FontBytes& bytes, uint64_t at, uint32_t length, char* out) {
    if (length > kSfntNameMax) return false;
    uint8_t text[kSfntNameMax];
    if (!bytes.Read(at, text, length)) return false;
    size_t n = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] != 0) out[n++] = char(text[i]);
    }
    out[n] = '\0';
    return true;
}

// The naming table's offset among the face's tables; false when it has none.
bool FindNameTable(FontBytes& bytes, uint64_t directory, uint32_t tableCount, uint64_t* offset) {
    for (uint32_t i = 0; i < tableCount; ++i) {
        uint8_t record[kTableRecord];
        if (!bytes.Read(directory + kDirectoryHeader + i * kTableRecord, record, sizeof record))
            return false;
        if (IsNameTag(record)) {
            *offset = LoadBigEndian(record + 8, 4);
            return true;
        }
    }
    return false;
}

}  // namespace

bool FontBytes::U16(uint64_t offset, uint32_t* value) {
    uint8_t b[2];
    if (!Read(offset, b, 2)) return false;
    *value = LoadBigEndian(b, 2);
    return true;
}

bool FontBytes::U32(uint64_t offset, uint32_t* value) {
    uint8_t b[4];
    if (!Read(offset, b, 4)) return false;
    *value = LoadBigEndian(b, 4);
    return true;
}

bool MemoryFontBytes::ReadAt(uint64_t offset, void* out, size_t count) {
    if (count != 0) std::memcpy(out, bytes_.data() + offset, count);
    return true;
}

bool FileFontBytes::ReadAt(uint64_t offset, void* out, size_t count) {
    if (FileSeek(file_, base_ + int64_t(offset), QV_SEEK_BEGINNING) == -1) return false;
    return FileReadBuffered(file_, out, int64_t(count)) == int64_t(count);
}

uint32_t CheckSfntFace(FontBytes& bytes, uint64_t directory) {
    uint32_t version = 0, count = 0;
    if (!bytes.U32(directory, &version) || !IsSfntVersion(version)) return 0;
    if (!bytes.U16(directory + 4, &count) || count == 0) return 0;
    if (!bytes.Fits(directory + kDirectoryHeader, count * kTableRecord)) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = 0, length = 0;
        const uint64_t record = directory + kDirectoryHeader + i * kTableRecord;
        if (!bytes.U32(record + 8, &offset) || !bytes.U32(record + 12, &length)) return 0;
        if (!bytes.Fits(offset, length)) return 0;
    }
    return count;
}

bool ReadSfntNames(FontBytes& bytes, uint64_t directory, uint32_t tableCount, SfntNames* names) {
    names->family[0] = names->style[0] = '\0';
    uint64_t table = 0;
    uint32_t count = 0, strings = 0;
    if (!FindNameTable(bytes, directory, tableCount, &table)) return false;
    if (!bytes.U16(table + 2, &count) || !bytes.U16(table + 4, &strings)) return false;
    if (!bytes.Fits(table + 6, count * kNameRecord)) return false;
    for (uint32_t i = 0; i < count && (names->family[0] == '\0' || names->style[0] == '\0'); ++i) {
        uint8_t r[kNameRecord];
        if (!bytes.Read(table + 6 + i * kNameRecord, r, sizeof r)) return false;
        const uint32_t platform = LoadBigEndian(r, 2), language = LoadBigEndian(r + 4, 2);
        const uint32_t id = LoadBigEndian(r + 6, 2);
        if ((id != kNameFamily && id != kNameStyle) || !UsedRecord(platform, language)) continue;
        const uint64_t at = table + strings + LoadBigEndian(r + 10, 2);
        char* out = id == kNameFamily ? names->family : names->style;
        if (!ReadNameString(bytes, at, LoadBigEndian(r + 8, 2), out)) return false;
    }
    return true;
}

uint32_t CollectionMemberCount(FontBytes& bytes) {
    uint32_t tag = 0, count = 0;
    if (!bytes.U32(0, &tag) || tag != kCollectionTag || !bytes.U32(8, &count)) return 0;
    return bytes.Fits(12, uint64_t(count) * 4) ? count : 0;
}

bool CollectionMember(FontBytes& bytes, uint32_t index, uint64_t* directory) {
    uint32_t offset = 0;
    if (!bytes.U32(12 + uint64_t(index) * 4, &offset)) return false;
    *directory = offset;
    return true;
}

bool NextResourceFace(FontBytes& bytes, uint64_t* at, uint64_t* base, uint64_t* length) {
    uint32_t n = 0;
    if (!bytes.U32(*at, &n) || !bytes.Fits(*at + 4, n)) return false;
    *base = *at + 4;
    *length = n;
    *at = *base + n;
    return true;
}

bool ExtractSfntMember(FontBytes& bytes, uint64_t directory, ByteSink& out) {
    const uint32_t count = CheckSfntFace(bytes, directory);
    if (count == 0) return false;
    const uint64_t directorySize = kDirectoryHeader + count * kTableRecord;
    BlockPtr<uint8_t> buffer(static_cast<uint8_t*>(AllocMemBlock(kCopyBuffer, 0)));
    if (buffer == nullptr) return false;
    // The header, then the table records with their new offsets.
    if (!bytes.Read(directory, buffer.get(), kDirectoryHeader) ||
        !out.Write(buffer.get(), kDirectoryHeader))
        return false;
    uint64_t next = directorySize, total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t record[kTableRecord];
        if (!bytes.Read(directory + kDirectoryHeader + i * kTableRecord, record, sizeof record))
            return false;
        const uint64_t length = LoadBigEndian(record + 12, 4);
        total += length;
        // Within one face tables do not overlap; more than the file holds is a hostile
        // directory that would make the copy many times larger than the file.
        if (total > bytes.size()) return false;
        StoreBigEndian(uint32_t(next), record + 8, 4);
        if (!out.Write(record, sizeof record)) return false;
        next += (length + 3) & ~uint64_t(3);
        if (next > UINT32_MAX) return false;
    }
    const uint8_t padding[4] = {};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset = 0, length = 0;
        const uint64_t record = directory + kDirectoryHeader + i * kTableRecord;
        if (!bytes.U32(record + 8, &offset) || !bytes.U32(record + 12, &length)) return false;
        for (uint64_t done = 0; done < length;) {
            const size_t n = size_t(std::min<uint64_t>(length - done, kCopyBuffer));
            if (!bytes.Read(offset + done, buffer.get(), n) || !out.Write(buffer.get(), n))
                return false;
            done += n;
        }
        if (length % 4 != 0 && !out.Write(padding, 4 - length % 4)) return false;
    }
    return true;
}

}  // namespace qv::fonts
