#include "objects/fonts/font_lookup.h"

#include <cstring>

#include "objects/fonts/font_names.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/sfnt_names.h"
#include "platform/linux/paths.h"
#include "runtime/files.h"
#include "runtime/strings.h"

namespace {

bool Matches(const qvScannedFont& node, const char* name, int weight, int slant,
             int plainFileOnly) {
    if (node.bitmapFont != 0) return false;
    if (plainFileOnly != 0 && (node.memberOffset != 0 || node.resourceBase != 0)) return false;
    if (weight == -1) return StrICmp(node.fullName, name) == 0;
    return StrICmp(node.family, name) == 0 && node.weight == weight && node.slant == slant;
}

class FileSink final : public qv::fonts::ByteSink {
public:
    explicit FileSink(qvFile* file) : file_(file) {}
    bool Write(const void* data, size_t count) override {
        return FileWrite(file_, data, int64_t(count)) == int64_t(count);
    }

private:
    qvFile* file_;
};

// Copies a collection member into a new file in "T:"; its name, or empty (and no file).
std::string ExtractMember(const qvScannedFont& node) {
    char temporary[kPathBufferSize];
    if (MakeTempPath(temporary) != 0) return {};
    qv::FilePtr source(FileOpen(node.file, QV_FILE_READ));
    if (source == nullptr || FileSeek(source.get(), 0, QV_SEEK_END) == -1) return {};
    const int64_t size = FileSeek(source.get(), 0, QV_SEEK_BEGINNING);
    qvFile* target = FileOpen(temporary, QV_FILE_WRITE);
    if (target == nullptr) return {};
    qv::fonts::FileFontBytes bytes(source.get(), 0, uint64_t(size));
    FileSink sink(target);
    bool copied = qv::fonts::ExtractSfntMember(bytes, uint64_t(node.memberOffset), sink);
    copied = FileClose(target) == 0 && copied;
    if (!copied) {
        DeleteFilePath(temporary);
        return {};
    }
    return temporary;
}

bool Opens(const char* path) {
    qv::FilePtr file(FileOpen(path, QV_FILE_READ));
    return file != nullptr;
}

}  // namespace

std::string FindTrueTypeFont(const char* name, int weight, int slant, int plainFileOnly,
                             int64_t* resourceBase, int64_t* resourceLength, int* temporary) {
    *resourceBase = 0;
    *resourceLength = 0;
    *temporary = 0;
    if (ScannedFonts() == nullptr && ScanTrueTypeFonts(0) != 0) return {};
    for (const qvScannedFont* node = ScannedFonts(); node != nullptr; node = node->next) {
        if (!Matches(*node, name, weight, slant, plainFileOnly)) continue;
        if (node->memberOffset != 0) {
            std::string path = ExtractMember(*node);
            *temporary = path.empty() ? 0 : 1;
            return path;
        }
        *resourceBase = node->resourceBase;
        *resourceLength = node->resourceLength;
        return node->file;
    }
    return {};
}

int FindFontFile(const char* name, char* path) {
    char file[kPathBufferSize];
    if (std::strlen(name) + 5 >= sizeof file) return 0;
    std::strcpy(file, name);
    if (!qv::fonts::EndsWithNoCase(file, ".font")) std::strcat(file, ".font");
    auto tryIn = [&](const char* folder) {
        qv::CopyText(path, kPathBufferSize, folder);
        return AddPart(path, file, kPathBufferSize) != 0 && Opens(path);
    };
    for (const qvFontPath* p = FontSearchPaths(); p != nullptr; p = p->next) {
        if (tryIn(p->path)) return 1;
    }
    return tryIn("") || tryIn("Fonts") || tryIn("FONTS:") ? 1 : 0;
}
