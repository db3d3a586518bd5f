#include "runtime/plugin_api/builtin_fonts.h"

#include "engine/error_codes.h"
#include "platform/linux/files.h"

// QV_FONT_DIR (a string) names the directory of the font files; the build sets it.
#define QV_EMBED_FONT(symbol, file)                                                        \
    asm(".section .rodata\n.balign 16\n.globl " #symbol "\n.hidden " #symbol "\n" #symbol  \
        ":\n.incbin \"" QV_FONT_DIR "/" file "\"\n.globl " #symbol "End\n.hidden " #symbol \
        "End\n" #symbol "End:\n.previous\n")

QV_EMBED_FONT(qvBuiltInSans, "Vera.ttf");
QV_EMBED_FONT(qvBuiltInSerif, "VeraSe.ttf");
QV_EMBED_FONT(qvBuiltInMono, "VeraMono.ttf");

extern "C" {
extern const unsigned char qvBuiltInSans[], qvBuiltInSansEnd[];
extern const unsigned char qvBuiltInSerif[], qvBuiltInSerifEnd[];
extern const unsigned char qvBuiltInMono[], qvBuiltInMonoEnd[];
}

namespace qv {
namespace {

struct FontWindow {
    const char* name;
    std::span<const unsigned char> (*face)();
};
constexpr FontWindow kWindows[] = {{":::default_sans", BuiltInFontSans},
                                   {":::default_serif", BuiltInFontSerif},
                                   {":::default_mono", BuiltInFontMono}};

MemoryWindowId windowIds[std::size(kWindows)] = {};

}  // namespace

std::span<const unsigned char> BuiltInFontSans() {
    return {qvBuiltInSans, qvBuiltInSansEnd};
}

std::span<const unsigned char> BuiltInFontSerif() {
    return {qvBuiltInSerif, qvBuiltInSerifEnd};
}

std::span<const unsigned char> BuiltInFontMono() {
    return {qvBuiltInMono, qvBuiltInMonoEnd};
}

const qvPluginFontData& BuiltInFontData() {
    static const qvPluginFontData data{BuiltInFontSans().data(),  BuiltInFontSerif().data(),
                                       BuiltInFontMono().data(),  BuiltInFontSans().size(),
                                       BuiltInFontSerif().size(), BuiltInFontMono().size()};
    return data;
}

int RegisterBuiltInFonts() {
    if (windowIds[0] != 0) return 0;
    for (size_t i = 0; i < std::size(kWindows); ++i) {
        std::span<const unsigned char> face = kWindows[i].face();
        windowIds[i] = RegisterMemoryWindow(face.data(), face.size(), kWindows[i].name);
        if (windowIds[i] == 0) {
            UnregisterBuiltInFonts();
            return ERR_MEM;
        }
    }
    return 0;
}

void UnregisterBuiltInFonts() {
    for (MemoryWindowId& id : windowIds) {
        if (id != 0) UnregisterMemoryWindow(id);
        id = 0;
    }
}

}  // namespace qv
