// Shared pieces of the layout and glyph tests: an engine that knows a few script constants,
// the built-in 8-pixel font (every advance 8, line height 8, baseline 6, so positions can be
// worked out on paper), a layout record in the text defaults' style, and runs read back as
// text.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/vm.h"
#include "objects/text/glyph_render.h"
#include "objects/text/layout.h"
#include "runtime/runtime_host.h"
#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {

inline constexpr uint32_t kStartColour = 0xFFFFFF;

class LayoutTest : public FontTest {
protected:
    void SetUp() override {
        FontTest::SetUp();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        InstallRuntimeHost(L);
        static const qvConstant kConstants[] = {
            {"RED", nullptr, 0xFF0000}, {"NAME", "x", 0}, {nullptr, nullptr, 0}};
        RegisterConstants(L, kConstants, 0);
        record_ = {};
        record_.style = {QV_STYLE_NORMAL, kStartColour, 0x000000, 0x0093DD, 4, 3, 2, DefaultFont()};
    }
    void TearDown() override {
        VmClose(L);
        FontTest::TearDown();
    }

    // Lays the text out in the record's style; the runs stay until the next call.
    int Lay(const std::string& text, const text::LayoutOptions& options = {}) {
        text_ = text;
        record_.text = text_.data();
        layout_ = std::make_unique<text::TextLayout>();
        return layout_->Run(L, &record_, options);
    }
    qvTextRun* Runs() const { return layout_->runs(); }

    // "x,y:text" per run, joined by " | ".
    std::string Placed() const {
        std::string out;
        for (const qvTextRun* run = Runs(); run != nullptr; run = run->next) {
            if (!out.empty()) out += " | ";
            out += std::to_string(run->x) + "," + std::to_string(run->y) + ":" +
                   std::string(run->text, size_t(run->length));
        }
        return out;
    }

    // The runs' texts and the styles that differ from the start: "#colour" and "+b", "+i",
    // "+u", "+s(colour,size,direction)", "+e(colour,size)" for their flags; or "error N".
    std::string Styled(int error) const {
        if (error != 0) return "error " + std::to_string(error);
        std::string out;
        for (const qvTextRun* run = Runs(); run != nullptr; run = run->next) {
            const qvTextStyle& s = run->style;
            char buffer[64];
            if (!out.empty()) out += " | ";
            out += std::string(run->text, size_t(run->length));
            if (s.colour != kStartColour) {
                std::snprintf(buffer, sizeof buffer, "#%x", s.colour);
                out += buffer;
            }
            if (s.styleFlags & QV_STYLE_BOLD) out += "+b";
            if (s.styleFlags & QV_STYLE_ITALIC) out += "+i";
            if (s.styleFlags & QV_STYLE_UNDERLINED) out += "+u";
            if (s.styleFlags & QV_STYLE_SHADOW) {
                std::snprintf(buffer, sizeof buffer, "+s(%x,%d,%d)", s.shadowColour, s.shadowSize,
                              s.shadowDirection);
                out += buffer;
            }
            if (s.styleFlags & QV_STYLE_EDGE) {
                std::snprintf(buffer, sizeof buffer, "+e(%x,%d)", s.edgeColour, s.edgeSize);
                out += buffer;
            }
        }
        return out;
    }

    qvVmState* L = nullptr;
    qvTextRender record_{};
    std::string text_;
    std::unique_ptr<text::TextLayout> layout_;
};

}  // namespace qv::testing
