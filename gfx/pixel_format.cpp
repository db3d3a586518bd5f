#include "gfx/pixel_format.h"

uint32_t RGBToPixelFormat(uint32_t rgb, uint32_t format) {
    uint32_t value = 0;
    qv::VisitFormat(format, [&](auto f) { value = f.Pack(rgb); });
    return value;
}

void ReadPixelRGB(const void* address, uint32_t format, uint8_t* rgb) {
    uint32_t value = 0;
    qv::VisitFormat(format, [&](auto f) {
        value = f.Unpack(qv::LoadPixel(static_cast<const uint8_t*>(address), f.bytes));
    });
    rgb[0] = uint8_t(value >> 16), rgb[1] = uint8_t(value >> 8), rgb[2] = uint8_t(value);
}

void WritePixelRGB(void* address, uint32_t format, const uint8_t* rgb) {
    uint32_t value = (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2];
    qv::VisitFormat(format, [&](auto f) {
        qv::StorePixel(static_cast<uint8_t*>(address), f.bytes, f.Pack(value));
    });
}

uint32_t ARGBToPixel32(uint32_t format, qvARGB argb) {
    if (format < QV_FMT_B8G8R8A8 || format > QV_FMT_A8B8G8R8) return argb;
    return RGBToPixelFormat(argb, format);
}

qvARGB Pixel32ToARGB(uint32_t format, uint32_t pixel) {
    qvARGB value = pixel;
    qv::VisitFormat(format, [&](auto f) {
        if constexpr (f.bytes == 4 && f.code != QV_FMT_A8R8G8B8) value = f.Unpack(pixel);
    });
    return value;
}

uint32_t RGB565ToPixel16(uint32_t format, uint32_t value) {
    if (format == QV_FMT_R5G6B5 || format > QV_FMT_B5G6R5_SWAPPED) return value;
    return RGBToPixelFormat(qv::Format<QV_FMT_R5G6B5>::Unpack(value), format);
}

uint32_t Pixel16ToRGB565(uint32_t format, uint32_t value) {
    if (format == QV_FMT_R5G6B5 || format > QV_FMT_B5G6R5_SWAPPED) return value;
    uint32_t rgb = 0;
    qv::VisitFormat(format, [&](auto f) { rgb = f.Unpack(value); });
    return qv::Format<QV_FMT_R5G6B5>::Pack(rgb);
}
