// Shared pieces of the font tests: the default font and FreeType for each test, fonts made
// by qvmkfont, planes and bitmaps read back as rows of text, and allocation-failure sweeps.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/memory.h"
#include "tests/platform/file_test_support.h"

namespace qv::testing {

inline const std::string kVeraDir = "/usr/share/fonts/truetype/ttf-bitstream-vera/";

// Every test runs with the default font and FreeType open, and closes them again.
class FontTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvFont* font = nullptr;
        ASSERT_EQ(OpenDefaultFont(&font), 0);
        ASSERT_EQ(font, DefaultFont());
    }
    void TearDown() override { CloseAllFonts(); }

    // Runs qvmkfont with the description into the scratch folder; the contents file's path.
    std::string MakeFont(const std::string& description, const std::string& broken = "") {
        const std::string desc =
            scratch_.Write("desc" + std::to_string(++fonts_), ToBytes(description));
        const std::string dir = scratch_ / ("font" + std::to_string(fonts_));
        std::string command = std::string(QVMKFONT_PATH) + " --describe " + desc +
                              (broken.empty() ? "" : " --broken " + broken) + " " + dir;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::string name = description.substr(description.find("name ") + 5);
        return dir + "/" + name.substr(0, name.find('\n')) + ".font";
    }

    ScratchDir scratch_;
    int fonts_ = 0;
};

struct FontCloser {
    void operator()(qvFont* font) const { CloseFontObject(font); }
};
using FontPtr = std::unique_ptr<qvFont, FontCloser>;

inline FontPtr OpenTrueType(const std::string& name, int32_t size, int cache = 1) {
    qvFont* font = NewFontRecord();
    if (font != nullptr && OpenTrueTypeFont(name.c_str(), size, cache, font) == 0) {
        FreeFontRecord(font);
        font = nullptr;
    }
    return FontPtr(font);
}

inline FontPtr LoadBitmap(const std::string& name, int32_t size) {
    qvFont* font = NewFontRecord();
    if (font != nullptr && LoadBitmapFont(name.c_str(), size, font, nullptr) == 0) {
        FreeFontRecord(font);
        font = nullptr;
    }
    return FontPtr(font);
}

inline qvTrueTypeFont* TrueTypeRecord(const FontPtr& font) {
    return static_cast<qvTrueTypeFont*>(font->engineData);
}

inline qvTextExtent Extent(qvFont* font, const std::string& text, uint32_t style = 0,
                           int utf8 = 0) {
    qvTextExtent extent{-1, -1, -1, -1, -1, -1};
    FontTextExtent(font, text.data(), int32_t(text.size()), style, utf8, &extent);
    return extent;
}

inline qvTextClip Everywhere() {
    return {-100000, -100000, 200000, 200000};
}

// A mask as rows of "#" and ".".
inline std::vector<std::string> MaskRows(const qvPlaneBitMap* mask) {
    std::vector<std::string> rows;
    for (int32_t y = 0; y < mask->height; ++y) {
        std::string row;
        for (int32_t x = 0; x < mask->width; ++x) row += ReadBitMapPixel(mask, x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

inline std::vector<uint8_t> PlaneBytes(const qvPlaneBitMap* plane) {
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < plane->height; ++y) {
        const uint8_t* row = plane->plane + size_t(y) * plane->bytesPerRow;
        bytes.insert(bytes.end(), row, row + plane->width);
    }
    return bytes;
}

// A bitmap in format 10 cleared to black.
inline OwnedBitMap BlackBitMap(int32_t width, int32_t height) {
    OwnedBitMap bitmap(AllocBitMapInFormat(width, height, QV_FMT_A8R8G8B8, false));
    RectFill(bitmap.get(), 0, 0, width, height, 0);
    return bitmap;
}

struct ToolRun {
    int status;
    std::string output;  // standard output and standard error
};

inline ToolRun RunCommand(const std::string& command) {
    ToolRun run{-1, ""};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline ToolRun QvText(const std::string& arguments) {
    return RunCommand(std::string(QVTEXT_PATH) + " " + arguments);
}

// Calls attempt with the n-th allocation failing, for n = 1, 2, ... until an attempt makes
// no more requests than n - 1; after each failing attempt (false) no block may stay live.
inline void SweepAllocationFailures(const std::function<bool()>& attempt,
                                    const std::function<void()>& undo) {
    for (uint64_t n = 1;; ++n) {
        const size_t before = GetMemoryStats().liveBlocks;
        bool ok;
        uint64_t requests;
        {
            AllocationFault fault(n, false);
            ok = attempt();
            requests = AllocationRequestsSinceArm();
        }
        if (ok) undo();
        EXPECT_EQ(GetMemoryStats().liveBlocks, before) << "allocation " << n;
        if (requests < n) {
            EXPECT_TRUE(ok) << "nothing failed, yet the attempt did";
            break;
        }
    }
}

}  // namespace qv::testing
