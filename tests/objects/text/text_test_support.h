// Shared pieces of the text tests: the test font folder (built once per test program by
// fixtures/build_fonts.py), the "text" library registered in an engine with "FONTS:" naming
// that folder, and a display record of the fixture's own in place of the display library's.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "objects/fonts/font.h"
#include "objects/text/font_cache.h"
#include "objects/text/text_display.h"
#include "objects/text/text_library.h"
#include "tests/platform/file_test_support.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline constexpr const char* kPython = "/usr/bin/python3";

inline std::filesystem::path TextTestDir() {
    return SourceDir() / "tests/objects/text";
}

// The test font folder; built at the first call. Empty when it could not be built.
inline const std::string& FontFolder() {
    static ScratchDir scratch;
    static const std::string folder = [] {
        const std::string out = scratch / "fonts";
        const std::string command = std::string(kPython) + " " +
                                    (TextTestDir() / "fixtures/build_fonts.py").string() + " " +
                                    out + " " + QVMKFONT_PATH;
        return std::system(command.c_str()) == 0 ? out : std::string();
    }();
    return folder;
}

// The current display of the tests: one cursor over a picture of width pixels.
class FixtureDisplay final : public text::TextDisplayHost {
public:
    FixtureDisplay() { Reset(); }
    void Reset(int32_t pictureWidth = 320) {
        cursor = {};
        width = pictureWidth;
        ResetTextCursor(&cursor, width);
    }
    qvTextCursor* CurrentTextCursor() override { return &cursor; }
    int32_t OutputPictureWidth() override { return width; }

    qvTextCursor cursor;
    int32_t width;
};

inline void OpenTextLibrary(qvVmState* L) {
    if (const int code = RegisterTextLibrary(L)) RaiseError(L, code);
}

// The text library in an engine, "FONTS:" the test font folder and "T:" a scratch folder, and
// the fixture's display current.
class TextLibTest : public LibFixture {
protected:
    explicit TextLibTest(LibraryOpener opener = OpenTextLibrary)
        : LibFixture(opener), assigns_("FONTS:=" + FontFolder() + ";T:=" + scratch_.path()) {
        text::SetTextDisplayHost(&display_);
    }
    ~TextLibTest() override {
        FreeAllTextObjects(L);
        text::SetTextDisplayHost(nullptr);
    }
    void SetUp() override { ASSERT_FALSE(FontFolder().empty()) << "the font folder"; }

    // The files in "T:".
    std::vector<std::string> TempFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.path()))
            names.push_back(entry.path().string());
        return names;
    }

    ScratchDir scratch_;
    ScopedAssigns assigns_;
    FixtureDisplay display_;
};

}  // namespace qv::testing
