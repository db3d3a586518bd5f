// Laid-out text comes from scripts: any bytes, with tags on or off, any wrap width and any
// replayed break and tab tables, must lay out into runs inside the output buffer or fail with
// an error code, and the runs must render (or fail for memory). Input: a flag byte (bit 0
// tags off, 1 tabs as spaces, 2 anti-aliased, 3 measure only, 4-5 the alignment), a style
// byte (bold, italic, underline, shadow, edge, and the edge size in its top bits), the wrap
// width, the start x, a count and the word-break entries to replay, a count and the tab
// results to replay, then the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "objects/fonts/truetype.h"
#include "objects/text/glyph_render.h"
#include "objects/text/layout.h"
#include "platform/linux/memory.h"
#include "runtime/runtime_host.h"

namespace {

void Check(bool holds) {
    if (!holds) __builtin_trap();
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::vector<int32_t> Table(int32_t (*entry)(uint8_t)) {
        std::vector<int32_t> table(Byte() % 16);
        for (int32_t& value : table) value = entry(Byte());
        return table;
    }
};

// The fonts, opened once: the built-in 8-pixel font and Vera Sans for anti-aliased text.
struct Fonts {
    qvFont* topaz = nullptr;
    qvFont* vera = nullptr;
    Fonts() {
        OpenDefaultFont(&topaz);
        vera = NewFontRecord();
        if (vera != nullptr && OpenTrueTypeFont("Bitstream Vera Sans", 12, 1, vera) == 0) {
            FreeFontRecord(vera);
            vera = nullptr;
        }
    }
};

constexpr int32_t kAlignments[4] = {qv::gfx::LEFT, qv::gfx::CENTER, qv::gfx::RIGHT, 7};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Fonts fonts;
    if (size < 4 || size > 4096 || fonts.topaz == nullptr) return 0;
    Input in{data, size};
    const uint8_t flags = in.Byte();
    const uint8_t style = in.Byte();
    const bool smooth = (flags & 4) != 0 && fonts.vera != nullptr;
    qvTextRender record{};
    const uint32_t antiAlias = smooth ? QV_STYLE_ANTIALIAS : 0u;
    record.style = {QV_STYLE_NORMAL | (style & 0x0Eu) | (style & 0x30u) << 1 | antiAlias,
                    0x80FFFFFF * (style & 1),
                    0x00000000,
                    0x0093DD,
                    3,
                    style % 9,
                    1 + (style >> 6) * 3,
                    smooth ? fonts.vera : fonts.topaz};
    record.leftMargin = 4;
    record.tabCount = 4;
    for (int32_t i = 0; i < 4; ++i) record.tabs[i] = 24 * (i + 1);
    qv::text::LayoutOptions options;
    options.tagsOff = (flags & 1) != 0;
    options.tabsAsSpaces = (flags & 2) != 0;
    options.alignment = kAlignments[(flags >> 4) & 3];
    options.wrapWidth = in.Byte();
    options.startX = in.Byte();
    std::vector<int32_t> breaks = in.Table([](uint8_t b) { return int32_t(b % 32); });
    std::vector<int32_t> tabs = in.Table([](uint8_t b) { return int32_t(int8_t(b)) % 6; });
    if (!breaks.empty()) {
        record.wordBreaks = breaks.data();
        record.wordBreakCount = int32_t(breaks.size());
    }
    if (!tabs.empty()) {
        record.tabResults = tabs.data();
        record.tabResultCount = int32_t(tabs.size());
    }
    const std::string text(reinterpret_cast<const char*>(data + in.at), size - in.at);
    record.text = const_cast<char*>(text.c_str());

    qvVmState* L = VmOpen();
    qv::InstallRuntimeHost(L);
    static const qvConstant kConstants[] = {{"RED", nullptr, 0xFF0000},
                                            {"BIG", nullptr, 1e12},
                                            {"NAME", "text", 0},
                                            {nullptr, nullptr, 0}};
    RegisterConstants(L, kConstants, 0);
    qv::SetMemoryCap(size_t(256) << 20);
    {
        qv::text::TextLayout layout;
        const int error = layout.Run(L, &record, options);
        const size_t visible = text.size();
        for (const qvTextRun* run = layout.runs(); error == 0 && run != nullptr; run = run->next) {
            Check(run->length > 0 && size_t(run->length) <= visible + 1);
        }
        if (error == 0) {
            qvGlyphResult block{};
            const int rendered =
                RenderGlyphs(&record, options.startX, breaks.empty() ? options.wrapWidth : 0,
                             smooth, options.alignment, (flags & 8) != 0, layout.runs(), &block);
            Check(rendered == 0 || rendered == ERR_MEM);
            if (rendered == 0 && block.bitmap != nullptr) {
                Check(block.bitmap->width == block.width && block.bitmap->height == block.height);
                Check((block.mask != nullptr) != (block.alpha != nullptr));
            }
            FreeGlyphResult(&block);
        }
    }
    qv::SetMemoryCap(0);
    VmClose(L);
    return 0;
}
