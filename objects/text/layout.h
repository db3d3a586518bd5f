// Text layout: a byte string with inline formatting tags becomes a list of runs, stretches of
// one style each with their extent and their place in the text block. Lines break at line
// feeds, at tabs that find no stop, and by word wrap against a width; the breaks made can be
// recorded in the layout record and replayed by a later layout of the same text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"
#include "gfx/geometry.h"
#include "objects/text/tags.h"
#include "objects/text/text_extent.h"
#include "scene/layers/layer.h"

struct qvTextRun {
    qvTextRun* next;
    char* text;  // in the layout's output buffer
    int32_t length;
    int32_t x;  // pen x of the first byte, from the block's left edge
    int32_t y;  // top of the run's line, from the block's top
    qvStyledExtent extent;
    qvTextStyle style;
};

// What one layout is asked to do besides the record's parameters.
struct qvLayoutRequest {
    const char* text;        // NUL-terminated; an empty text is laid out as one space
    char* output;            // LayoutOutputSize(text) bytes: the visible bytes, runs point here
    qvColourStack* colours;  // CountColourTags(text) + 1 entries
    bool replayBreaks;       // break before the words the record's table names
    bool replayTabs;         // send each tab where the record's tab results say
    int32_t startX;          // pen x of the first byte
    bool tabsAsSpaces;       // else tabs go to the record's stops (Print)
    int32_t wrapWidth;       // 0: no wrapping
    bool tagsOff;            // brackets are text (only "[[" and "]]" still reduce)
    int32_t alignment;       // any but LEFT trims the spaces that end a line
    // Recording: the entries the record's tables have room for (0 records nothing).
    int32_t wordBreakRoom;
    int32_t tabResultRoom;
};

struct qvLayoutResult {
    qvTextRun* runs;
    int32_t endX;  // pen x after the last run
    int32_t endY;  // y of the last line
};

// Whether a text may hold formatting tags: it has a "[" or a "]" (a tag, an escape, or a
// single "]" that the layout refuses). Only text without either may be drawn straight by the
// font, for then the layout would draw the same bytes.
bool TextMayHoldTags(const char* text);

// The output buffer's size for a text.
size_t LayoutOutputSize(const char* text);

// Lays out the request's text in the record's style, font and encoding (the record's left
// margin and tab stops serve the tabs). Returns 0 with the runs in result (FreeTextRuns), or
// ERR_MEM, a tag's error (tags.h), ERR_TEXTSYNTAX for a single "]", or the font front end's
// error; after an error no run is left.
int LayoutText(qvVmState* L, qvTextParams* record, const qvLayoutRequest& request,
               qvLayoutResult* result);
void FreeTextRuns(qvTextRun* runs);

// A script's "wordwraptable" (at stack index table): word numbers from index 0 up to the first
// nil, each converted to an integer, in the library's buffer, which is kept for the run.
// Returns 0 with the entries, ERR_MEM, or ERR_INTERNAL for 32767 entries or more.
int ReadWordWrapTable(qvVmState* L, int table, const int32_t** entries, int32_t* count);
// Shutdown: frees the buffer.
void FreeWordWrapTable();

namespace qv::text {

// Counts of a text that size the buffers of its layout before the scan.
struct TextCounts {
    int32_t breakCharacters;  // spaces, tabs, carriage returns and line feeds
    int32_t tabs;
    int32_t colourTags;  // CountColourTags
};
TextCounts CountText(const char* text);

struct LayoutOptions {
    int32_t startX = 0;
    int32_t wrapWidth = 0;
    int32_t alignment = qv::gfx::LEFT;
    bool tabsAsSpaces = true;
    bool tagsOff = false;
};

// One layout of a record's text with the buffers it needs, sized beforehand from the text's
// counts: the output buffer, the colour stack and, where the record holds none, the tables
// that record the breaks. A table the record holds is replayed instead (and the wrap width
// then does not apply). Everything is freed with the layout; KeepTables leaves the recorded
// tables with the record (blocks, which a text layer's qvTextRender owns and frees).
class TextLayout {
public:
    TextLayout() = default;
    ~TextLayout();
    TextLayout(const TextLayout&) = delete;
    TextLayout& operator=(const TextLayout&) = delete;

    // 0 or an error of LayoutText; a layout runs once.
    int Run(qvVmState* L, qvTextParams* record, const LayoutOptions& options);
    qvTextRun* runs() const { return result_.runs; }
    int32_t endX() const { return result_.endX; }
    int32_t endY() const { return result_.endY; }
    void KeepTables() { record_ = nullptr; }

private:
    qvTextParams* record_ = nullptr;  // whose recording tables are ours
    int32_t* wordBreaks_ = nullptr;
    int32_t* tabResults_ = nullptr;
    char* output_ = nullptr;
    uint32_t* colours_ = nullptr;
    qvLayoutResult result_{};
};

}  // namespace qv::text
