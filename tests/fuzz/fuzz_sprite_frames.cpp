// Sprite sheets and their cut options come from an applet's author: any picture file (every
// format the picture loaders read, and GIF animations) under any cut must become a sprite
// whose frames are all there, or be refused with nothing left behind. The input is eight
// bytes of options and then the file:
//   byte 0   which options are given: 1 width, 2 height, 4 frames, 8 frames per row,
//            16 "loadalpha", 32 a colour key
//   bytes 1-6  width, height, frames, frames per row, x, y (signed)
//   byte 7   the colour key's grey level
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_loader.h"
#include "platform/linux/memory.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

constexpr size_t kOptionBytes = 8;

qv::sprites::SpriteLoadOptions OptionsOf(const uint8_t* d) {
    qv::sprites::SpriteLoadOptions o;
    const auto value = [d](int i) { return int32_t(int8_t(d[i])); };
    if (d[0] & 1) o.cut.width = value(1);
    if (d[0] & 2) o.cut.height = value(2);
    if (d[0] & 4) o.cut.frames = value(3);
    if (d[0] & 8) o.cut.perRow = value(4);
    o.cut.x = value(5), o.cut.y = value(6);
    o.loadAlpha = (d[0] & 16) != 0;
    if (d[0] & 32) o.transparent = uint32_t(d[7]) * 0x010101u;
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static qvVmState* L = VmOpen();
    static const std::string file = "/tmp/qv-fuzz-sprite-" + std::to_string(getpid());
    if (size < kOptionBytes) return 0;
    qv::fuzz::WriteFile(file, std::vector<uint8_t>(data + kOptionBytes, data + size));
    qv::SetMemoryCap(64u << 20);
    const qv::sprites::SpriteLoadOptions options = OptionsOf(data);
    qvSprite* made = nullptr;
    if (qv::sprites::LoadSpriteFile(L, file.c_str(), options, &made) == 0) {
        qv::fuzz::Check(made != nullptr && made->frameCount >= 1 && made->width >= 1 &&
                        made->height >= 1);
        for (int32_t i = 0; i < made->frameCount; ++i) {
            qvDisplayBitMap* bitmap = nullptr;
            GetSpriteFrame(made, i, &bitmap, nullptr, nullptr);
            qv::fuzz::Check(bitmap != nullptr &&
                            ReadBitMapPixel(bitmap, made->width - 1, made->height - 1) <= 0xFFFFFF);
        }
        FreeSpriteEx(L, made);
    }
    qv::fuzz::Check(*qv::SpriteList() == nullptr);
    qv::SetMemoryCap(0);
    return 0;
}
