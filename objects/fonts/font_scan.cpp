#include "objects/fonts/font_scan.h"

#include <cstdio>
#include <cstring>

#include "engine/error_codes.h"
#include "objects/fonts/font_names.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/strings.h"

namespace {

qvScannedFont* scanned = nullptr;
qvFontPath* searchPaths = nullptr;

// Subfolder levels read below the two system font folders.
constexpr int kSystemFolderDepth = 3;

// Bitmap font contents: the id, then the entry count and 260-byte entries.
constexpr uint32_t kContentsBitmap = 0x0F00, kContentsTagged = 0x0F02, kContentsOutline = 0x0F03;
constexpr uint64_t kContentsEntry = 260;
constexpr uint64_t kEntryNameBytes = 256;
constexpr int kMaxSizes = 256;

struct StyleWord {
    const char* word;
    bool weight;  // else a slant
    int32_t value;
};
constexpr StyleWord kStyleWords[] = {
    {"Thin", true, 0},          {"Extralight", true, 40},  {"Extra-light", true, 40},
    {"Ultralight", true, 40},   {"Ultra-light", true, 40}, {"Light", true, 50},
    {"Book", true, 75},         {"Normal", true, 80},      {"Regular", true, 80},
    {"Medium", true, 100},      {"Semibold", true, 180},   {"Semi-bold", true, 180},
    {"Semi", true, 180},        {"Demibold", true, 180},   {"Demi-bold", true, 180},
    {"Demi", true, 180},        {"Bold", true, 200},       {"Extrabold", true, 205},
    {"Extra-bold", true, 205},  {"Ultrabold", true, 205},  {"Ultra-bold", true, 205},
    {"Heavy", true, 210},       {"Black", true, 210},      {"Extrablack", true, 215},
    {"Extra-black", true, 215}, {"Ultrablack", true, 215}, {"Ultra-black", true, 215},
    {"Roman", false, 0},        {"Italic", false, 100},    {"Oblique", false, 110},
};
constexpr int32_t kDefaultWeight = 80;

// What a new node holds besides its names.
struct Face {
    const char* file;
    int64_t resourceBase = 0;
    int64_t resourceLength = 0;
    int64_t memberOffset = 0;
    uint32_t bitmapFont = 0;
    const uint8_t* sizes = nullptr;
    int32_t sizeCount = 0;
};

bool Listed(const char* fullName) {
    for (const qvScannedFont* node = scanned; node != nullptr; node = node->next) {
        if (StrICmp(node->fullName, fullName) == 0) return true;
    }
    return false;
}

char* CopyInto(char*& at, const char* text, size_t length) {
    char* start = at;
    std::memcpy(at, text, length);
    at[length] = '\0';
    at += length + 1;
    return start;
}

// Appends a node unless a node of that full name is listed; 0 or ERR_MEM.
int AddNode(const char* fullName, const char* family, const char* style, const Face& face) {
    if (Listed(fullName)) return 0;
    const size_t nameLength = std::strlen(fullName), familyLength = std::strlen(family);
    const size_t fileLength = std::strlen(face.file);
    const size_t bytes =
        sizeof(qvScannedFont) + nameLength + familyLength + fileLength + 3 + size_t(face.sizeCount);
    auto* node = static_cast<qvScannedFont*>(AllocMemBlock(bytes, 1));
    if (node == nullptr) return ERR_MEM;
    char* at = reinterpret_cast<char*>(node + 1);
    node->fullName = CopyInto(at, fullName, nameLength);
    node->family = CopyInto(at, family, familyLength);
    node->file = CopyInto(at, face.file, fileLength);
    if (face.sizeCount > 0) std::memcpy(at, face.sizes, size_t(face.sizeCount));
    node->sizes = reinterpret_cast<const uint8_t*>(at);
    node->sizeCount = face.sizeCount;
    qv::fonts::StyleWeightSlant(style, &node->weight, &node->slant);
    node->resourceBase = face.resourceBase;
    node->resourceLength = face.resourceLength;
    node->memberOffset = face.memberOffset;
    node->bitmapFont = face.bitmapFont;
    *qv::ListEnd(&scanned) = node;
    return 0;
}

// The nodes of one named face: its full name, and its family alone for a regular-like style
// unless variants are off.
int AddFace(const qv::fonts::SfntNames& names, const Face& face, int noVariants) {
    if (names.family[0] == '\0') return 0;
    char fullName[sizeof names.family + sizeof names.style];
    std::snprintf(fullName, sizeof fullName, "%s%s%s", names.family,
                  names.style[0] != '\0' ? " " : "", names.style);
    if (int error = AddNode(fullName, names.family, names.style, face)) return error;
    if (noVariants != 0 || !qv::fonts::IsRegularLikeStyle(names.style)) return 0;
    return AddNode(names.family, names.family, names.style, face);
}

int AddSfntFace(qv::fonts::FontBytes& bytes, uint64_t directory, Face face, int noVariants) {
    const uint32_t tables = qv::fonts::CheckSfntFace(bytes, directory);
    qv::fonts::SfntNames names;
    if (tables == 0 || !qv::fonts::ReadSfntNames(bytes, directory, tables, &names)) return 0;
    return AddFace(names, face, noVariants);
}

int ScanCollection(qv::fonts::FontBytes& bytes, const Face& file, int noVariants) {
    const uint32_t members = qv::fonts::CollectionMemberCount(bytes);
    for (uint32_t i = 0; i < members; ++i) {
        Face face = file;
        uint64_t directory = 0;
        if (!qv::fonts::CollectionMember(bytes, i, &directory)) break;
        face.memberOffset = int64_t(directory);
        if (int error = AddSfntFace(bytes, directory, face, noVariants)) return error;
    }
    return 0;
}

int ScanResourceFile(qv::fonts::FontBytes& bytes, const Face& file, int noVariants) {
    uint64_t at = qv::fonts::kFirstResource, base = 0, length = 0;
    while (qv::fonts::NextResourceFace(bytes, &at, &base, &length)) {
        qv::fonts::WindowFontBytes window(bytes, base, length);
        Face face = file;
        face.resourceBase = int64_t(base);
        face.resourceLength = int64_t(length);
        if (int error = AddSfntFace(window, 0, face, noVariants)) return error;
    }
    return 0;
}

// An Amiga font contents file: the family is the file name without ".font".
int ScanContentsFile(qv::fonts::FontBytes& bytes, const char* path, Face face) {
    uint32_t id = 0, count = 0;
    if (!bytes.U16(0, &id)) return 0;
    if (id != kContentsBitmap && id != kContentsTagged && id != kContentsOutline) return 0;
    uint8_t sizes[kMaxSizes];
    if (id != kContentsOutline) {
        if (!bytes.U16(2, &count) || !bytes.Fits(4, count * kContentsEntry)) return 0;
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t size = 0;
            if (!bytes.U16(4 + i * kContentsEntry + kEntryNameBytes, &size)) return 0;
            const auto low = uint8_t(size);
            if (std::memchr(sizes, low, size_t(face.sizeCount)) == nullptr)
                sizes[face.sizeCount++] = low;
        }
        face.bitmapFont = 1;
        face.sizes = sizes;
    }
    qv::fonts::SfntNames names;
    qv::CopyText(names.family, sizeof names.family, PathFilePart(path));
    names.family[std::strlen(names.family) - 5] = '\0';
    names.style[0] = '\0';
    return AddFace(names, face, 1);
}

// The plain files of a folder, and with depth left its subfolders; unreadable ones are
// skipped.
int ScanFolder(const char* folder, int depth, int noVariants) {
    qvLock* lock = LockPath(folder, QV_LOCK_SHARED);
    qvDirScan* scan = nullptr;
    if (lock == nullptr || OpenDirScan(lock, &scan) != 0) {
        ReleaseLock(lock);
        return 0;
    }
    int error = 0;
    qvFileAttributes info;
    while (error == 0 && ExamineDirNext(scan, &info) != 0) {
        char path[kPathBufferSize];
        qv::CopyText(path, sizeof path, folder);
        if (AddPart(path, info.name, sizeof path) == 0) continue;
        if (info.type == QV_DOSTYPE_DIRECTORY) {
            if (depth > 0) error = ScanFolder(path, depth - 1, noVariants);
            continue;
        }
        if (std::strlen(info.name) <= 5) continue;
        qv::FilePtr file(FileOpen(path, QV_FILE_READ));
        if (file == nullptr || FileSeek(file.get(), 0, QV_SEEK_END) == -1) continue;
        const int64_t size = FileSeek(file.get(), 0, QV_SEEK_BEGINNING);
        if (size <= 0) continue;
        qv::fonts::FileFontBytes bytes(file.get(), 0, uint64_t(size));
        error = qv::fonts::ScanFontFile(bytes, path, noVariants);
    }
    FreeDirContext(scan);
    ReleaseLock(lock);
    return error;
}

}  // namespace

namespace qv::fonts {

void StyleWeightSlant(const char* style, int32_t* weight, int32_t* slant) {
    *weight = kDefaultWeight;
    *slant = 0;
    for (const char* at = style; *at != '\0';) {
        while (*at == ' ' || *at == '\t') ++at;
        const size_t length = std::strcspn(at, " \t");
        for (const StyleWord& word : kStyleWords) {
            if (std::strlen(word.word) != length || StrNICmp(at, word.word, length) != 0) continue;
            *(word.weight ? weight : slant) = word.value;
        }
        at += length;
    }
}

bool IsRegularLikeStyle(const char* style) {
    for (const char* word : {"regular", "plain", "normal", "book", "roman"}) {
        if (StrICmp(style, word) == 0) return true;
    }
    return false;
}

int ScanFontFile(FontBytes& bytes, const char* path, int noVariants) {
    const Face face{path};
    const char* name = PathFilePart(path);
    if (std::strlen(name) <= 5) return 0;
    if (EndsWithNoCase(name, ".font")) return ScanContentsFile(bytes, path, face);
    if (EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf"))
        return AddSfntFace(bytes, 0, face, noVariants);
    if (EndsWithNoCase(name, ".ttc")) return ScanCollection(bytes, face, noVariants);
    if (EndsWithNoCase(name, ".dfont")) return ScanResourceFile(bytes, face, noVariants);
    return 0;
}

}  // namespace qv::fonts

int ScanTrueTypeFonts(int noVariants) {
    if (scanned != nullptr) return 0;
    int error = 0;
    for (const qvFontPath* p = searchPaths; p != nullptr && error == 0; p = p->next)
        error = ScanFolder(p->path, 0, noVariants);
    if (error == 0) error = ScanFolder("FONTS:_TrueType", kSystemFolderDepth, noVariants);
    if (error == 0) error = ScanFolder("FONTS:", kSystemFolderDepth, noVariants);
    if (error == 0) error = ScanFolder("Fonts", 0, noVariants);
    if (error != 0) FreeTrueTypeFontList();
    return error;
}

const qvScannedFont* ScannedFonts() {
    return scanned;
}

void FreeTrueTypeFontList() {
    qv::DrainList(&scanned, FreeMemBlock);
}

int AddFontSearchPath(const char* fullName) {
    const size_t length = std::strlen(fullName);
    auto* node = static_cast<qvFontPath*>(AllocMemBlock(sizeof(qvFontPath) + length + 1, 1));
    if (node == nullptr) return ERR_MEM;
    char* at = reinterpret_cast<char*>(node + 1);
    node->path = CopyInto(at, fullName, length);
    *qv::ListEnd(&searchPaths) = node;
    return 0;
}

const qvFontPath* FontSearchPaths() {
    return searchPaths;
}

void FreeFontSearchPaths() {
    qv::DrainList(&searchPaths, FreeMemBlock);
}
