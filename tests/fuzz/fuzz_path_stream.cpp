// Arbitrary segment streams through the cairo back end: extents (filled and stroked), the
// current point, translation and drawing into a 64 x 64 plane, with the stroke style, plane
// rows and matrix taken from the first bytes. The stream lies in a block of exactly its
// length, so a read past it is caught. Vector font 1 is Vera Sans at 16 pixels.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plugins/vectorgraphics/cairo_backend.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/plugin_api/service_table.h"

namespace {

namespace vg = qv::vectorgraphics;

constexpr int32_t kSide = 64;

// The face lives until the process ends (the library with it).
struct Font {
    FT_Library library = nullptr;
    FT_Face face = nullptr;

    Font() {
        const auto sans = qv::BuiltInFontSans();
        if (FT_Init_FreeType(&library) != 0 ||
            FT_New_Memory_Face(library, sans.data(), static_cast<FT_Long>(sans.size()), 0, &face) !=
                0) {
            return;
        }
        FT_Set_Pixel_Sizes(face, 0, 16);
        vg::UseFreeType(qv::PluginAPI()->freetype);
        vg::CreateVectorFont(face);
    }
    ~Font() {
        vg::FreeAllVectorFonts();
        if (library != nullptr) FT_Done_FreeType(library);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Font font;
    if (size < 3) return 0;
    const uint8_t flags = data[0], width = data[1], dashing = data[2];
    const std::vector<uint8_t> stream(data + 3, data + size);
    constexpr double kDashLengths[] = {0, 1, 2.5, 7, -1, 1e-3};
    double dashes[3];
    const int32_t dashCount = dashing & 3;
    for (int i = 0; i < dashCount; ++i) dashes[i] = kDashLengths[(dashing >> (2 + i)) % 6];
    const qvPathStrokeStyle style{
        (flags >> 4) & 3, (flags >> 6) & 3, dashing >> 7, (flags >> 1) & 1u, 0.5,
        dashes,           dashCount};

    for (uint32_t fill : {0u, 1u}) {
        qvPathExtentsRequest extents{};
        extents.stream = stream.data();
        extents.length = stream.size();
        extents.style = &style;
        extents.fill = fill;
        extents.lineWidth = width;
        extents.translateX = 1.5;
        extents.translateY = -2;
        vg::GetPathExtents(&extents);
    }
    double x = 0, y = 0;
    vg::GetCurrentPoint(stream.data(), stream.size(), &style, &x, &y);

    std::vector<uint8_t> moved = stream;
    const qvPathTranslateRequest move{moved.data(), moved.size(), 3.25, -7};
    vg::TranslatePath(&move);

    const uint32_t stride = (flags & 4) != 0 ? kSide + 3 : kSide;
    std::vector<uint8_t> plane(static_cast<size_t>(stride) * kSide);
    const qvPathMatrix turn{{std::cos(0.5), std::sin(0.5), -std::sin(0.5), std::cos(0.5), 9, -4}};
    qvPathDrawRequest draw{};
    draw.stream = moved.data();
    draw.length = moved.size();
    draw.style = &style;
    draw.fill = flags & 1;
    draw.strokeWidth = width;
    draw.plane = plane.data();
    draw.bytesPerRow = stride;
    draw.width = kSide;
    draw.height = kSide;
    draw.offsetX = -8;
    draw.offsetY = 2;
    draw.matrix = (flags & 8) != 0 ? &turn : nullptr;
    vg::DrawPath(&draw);
    return 0;
}
