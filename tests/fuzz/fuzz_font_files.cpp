// Font files come from the system's folders, the script's and the applet's: whatever a file
// holds, the name reader, the scan and the copying out of collection members read and write
// nothing outside it, and a member copied out is a face the reader accepts.
//
// Input: a selector byte (its value modulo 4: sfnt ".ttf", collection ".ttc", resource file
// ".dfont", Amiga contents file ".font"), then the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "objects/fonts/font_scan.h"
#include "objects/fonts/sfnt_names.h"
#include "platform/linux/memory.h"

namespace {

using namespace qv::fonts;

constexpr const char* kNames[] = {"fuzz.ttf", "fuzz.ttc", "fuzz.dfont", "fuzz.font"};

class CappedSink final : public ByteSink {
public:
    explicit CappedSink(size_t cap) : cap_(cap) {}
    bool Write(const void* data, size_t count) override {
        if (count > cap_ - bytes.size()) return false;
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return true;
    }
    std::vector<uint8_t> bytes;

private:
    size_t cap_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    qv::SetMemoryCap(256 << 20);
    MemoryFontBytes bytes(std::span<const uint8_t>(data + 1, size - 1));
    if (const uint32_t tables = CheckSfntFace(bytes, 0)) {
        SfntNames names;
        ReadSfntNames(bytes, 0, tables, &names);
    }
    if (ScanFontFile(bytes, kNames[data[0] % 4], 0) == 0) {
        for (const qvScannedFont* node = ScannedFonts(); node != nullptr; node = node->next) {
            if (node->memberOffset == 0) continue;
            // A member is never larger than the file it comes from, with its padding.
            CappedSink sink(2 * bytes.size() + 4096);
            if (!ExtractSfntMember(bytes, uint64_t(node->memberOffset), sink)) continue;
            MemoryFontBytes copy(sink.bytes);
            if (CheckSfntFace(copy, 0) == 0) __builtin_trap();
        }
    }
    FreeTrueTypeFontList();
    return 0;
}
