// What text output keeps per display, and how the text library reaches the current display.
//
// The display record keeps a qvTextCursor (the text cursor, the margins and the tab stops of
// text output); the display library installs a TextDisplayHost that hands the text library
// the current display's record and the width of the current output picture (the picture
// drawing goes to: the display's own, or the object selected with a Select command). Until a
// host is installed there is no display: the cursor commands fail with ERR_FINDDISPLAY, and
// the width is the graphics engine's current output picture.
#pragma once

#include <cstdint>

inline constexpr int kMaxTabStops = 32;

struct qvTextCursor {
    int32_t x;
    int32_t y;
    int32_t leftMargin;
    int32_t rightMargin;
    int32_t tabs[kMaxTabStops];  // absolute x positions, ascending
    int32_t tabCount;
};

// The cursor of a display that opens or changes size: (0, 0) with margins 0 and
// width - 1; the tab stops stay.
void ResetTextCursor(qvTextCursor* cursor, int32_t pictureWidth);

namespace qv::text {

class TextDisplayHost {
public:
    virtual ~TextDisplayHost() = default;
    // The current display's cursor; none when there is no display.
    virtual qvTextCursor* CurrentTextCursor() = 0;
    virtual int32_t OutputPictureWidth() = 0;
};

// nullptr removes the host.
void SetTextDisplayHost(TextDisplayHost* host);
TextDisplayHost& TextDisplay();

}  // namespace qv::text
