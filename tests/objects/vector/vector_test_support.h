// Helpers of the vector path tests: the library under the command-library fixture with
// neighbours that tests set, streams written out byte by byte, and the cairo back end handed
// to the library directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_library.h"
#include "objects/vector/vector_neighbours.h"
#include "plugins/vectorgraphics/cairo_backend.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

// Neighbours whose answers tests choose.
struct FakeNeighbours : VectorNeighbours {
    PathDrawSettings draw;
    int32_t encoding = kEncodingIso8859_1;
    int fontStatus = ERR_VFONTTYPE;
    PathTextFont font;
    int releases = 0;

    PathDrawSettings DrawSettings() override { return draw; }
    int32_t DefaultEncoding() override { return encoding; }
    int CurrentTextFont(PathTextFont* out) override {
        if (fontStatus == 0) *out = font;
        return fontStatus;
    }
    void ReleaseFontOutlines() override {
        ++releases;
        if (font.vectorFontHandle != nullptr) ReleaseFontOutline(font.vectorFontHandle);
    }
};

// The cairo back end as the plugin offers it.
inline const VectorBackend kCairoBackend = {
    vectorgraphics::GetPathExtents,   vectorgraphics::DrawPath,
    vectorgraphics::TranslatePath,    vectorgraphics::GetCurrentPoint,
    vectorgraphics::CreateVectorFont, vectorgraphics::FreeVectorFont};

// The library registered under the fixture, with fake neighbours installed and no back end.
class VectorLib : public LibFixture {
protected:
    VectorLib() : LibFixture(OpenLibraries<RegisterVectorGraphicsLibrary>) {
        SetPathNeighbours(&neighbours);
    }
    ~VectorLib() override {
        FreeAllPaths(L);
        SetPathNeighbours(nullptr);
        UseVectorBackend(nullptr);
    }

    // The used bytes of the path of a numeric id (empty for an empty or missing path).
    std::vector<uint8_t> StreamOf(double id) {
        qvPath* path = nullptr;
        if (FindPath({static_cast<uint32_t>(id), nullptr}, &path) != 0 || path == nullptr)
            return {};
        return {path->segments, path->segments + UsedBytes(*path)};
    }
    qvPath* PathOf(double id) {
        qvPath* path = nullptr;
        EXPECT_EQ(FindPath({static_cast<uint32_t>(id), nullptr}, &path), 0);
        return path;
    }
    void Start(double id) { ASSERT_EQ(Call("StartPath", {Num(id)}).code, 0); }

    FakeNeighbours neighbours;
};

// A stream written by hand, in the layout the library writes.
class StreamBytes {
public:
    StreamBytes& Code(uint32_t v) { return Put(v); }
    StreamBytes& Int(int32_t v) { return Put(v); }
    StreamBytes& Num(double v) { return Put(v); }
    StreamBytes& Text(std::string_view text) {
        const size_t room = qvPathStringRoom(text.size());
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.insert(bytes_.end(), room - text.size(), 0);
        return *this;
    }
    StreamBytes& Move(double x, double y, int32_t relative = 0) {
        return Code(QV_PATH_MOVETO).Int(relative).Num(x).Num(y);
    }
    StreamBytes& Line(double x, double y, int32_t relative = 0) {
        return Code(QV_PATH_LINETO).Int(relative).Num(x).Num(y);
    }
    StreamBytes& Close() { return Code(QV_PATH_CLOSE); }
    StreamBytes& Arc(double cx, double cy, double rx, double ry, double a1, double a2,
                     int32_t clockwise = 1) {
        return Code(QV_PATH_ARC).Num(cx).Num(cy).Num(rx).Num(ry).Num(a1).Num(a2).Int(clockwise);
    }
    StreamBytes& Box(double x, double y, double w, double h, int32_t a = 0, int32_t b = 0,
                     int32_t c = 0, int32_t d = 0) {
        return Code(QV_PATH_BOX).Num(x).Num(y).Num(w).Num(h).Int(a).Int(b).Int(c).Int(d);
    }

    std::vector<uint8_t>& bytes() { return bytes_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

private:
    template <typename T>
    StreamBytes& Put(T v) {
        uint8_t raw[sizeof v];
        std::memcpy(raw, &v, sizeof v);
        bytes_.insert(bytes_.end(), raw, raw + sizeof v);
        return *this;
    }

    std::vector<uint8_t> bytes_;
};

}  // namespace qv::testing
