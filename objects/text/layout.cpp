#include "objects/text/layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "platform/linux/memory.h"

namespace {

bool IsBreakCharacter(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The runs made so far, in text order; freed unless released.
class RunList {
public:
    RunList() = default;
    ~RunList() { FreeTextRuns(head_); }
    RunList(const RunList&) = delete;
    RunList& operator=(const RunList&) = delete;

    qvTextRun* head() const { return head_; }
    qvTextRun** headLink() { return &head_; }
    qvTextRun* tail() const { return tail_; }
    void Append(qvTextRun* run) {
        *(tail_ != nullptr ? &tail_->next : &head_) = run;
        tail_ = run;
    }
    void InsertAfter(qvTextRun* before, qvTextRun* run) {
        run->next = before->next;
        before->next = run;
        if (tail_ == before) tail_ = run;
    }
    qvTextRun* Release() {
        qvTextRun* runs = head_;
        head_ = tail_ = nullptr;
        return runs;
    }

private:
    qvTextRun* head_ = nullptr;
    qvTextRun* tail_ = nullptr;
};

// The scan of one layout (see LayoutText).
class Scanner {
public:
    Scanner(qvVmState* L, qvTextParams* record, const qvLayoutRequest& request)
        : L_(L), record_(record), request_(request), style_(record->style) {
        if (style_.font == nullptr) style_.font = DefaultFont();
        pendingMeasure_.memo = &glyphs_;
        lineHeight_ = style_.font != nullptr ? style_.font->height : 0;
        penX_ = request.startX;
    }

    int Scan(qvLayoutResult* result);

private:
    // Measures bytes of the output buffer in a style.
    int Measure(size_t start, size_t end, const qvTextStyle& style, qvStyledExtent* extent) {
        qvMeasuredPrefix whole{};
        whole.memo = &glyphs_;
        return ExtendTextExtentRaw(request_.output + start, int32_t(end - start), record_->encoding,
                                   extent, style, &whole);
    }
    // Measures the pending bytes up to end in the current style, on from those of them that
    // the last such measure covered: the wrap rule measures them again at every word end.
    int MeasurePending(size_t end, qvStyledExtent* extent) {
        return ExtendTextExtentRaw(request_.output + pendingStart_, int32_t(end - pendingStart_),
                                   record_->encoding, extent, style_, &pendingMeasure_);
    }
    int NewRun(size_t start, size_t end, const qvTextStyle& style, const qvStyledExtent& extent,
               qvTextRun** out);
    int CloseBytes(size_t end);
    int ClosePending() { return CloseBytes(out_); }
    int CloseInsideWord();
    void NewLine() {
        penX_ = 0;
        lineY_ += lineHeight_;
        rightEdge_ = 0;
    }
    void Tab();
    int ReadWord();
    int EndWord();
    int MoveWord();
    int MoveRunsOfWord();
    int TrimLineEnds();
    bool Trimmable(const qvTextRun* run) const {
        return (run->style.styleFlags & QV_STYLE_UNDERLINED) != 0 ||
               request_.alignment != qv::gfx::LEFT;
    }
    bool Wrapping() const { return request_.wrapWidth != 0 && !request_.replayBreaks; }

    qvVmState* L_;
    qvTextParams* record_;
    const qvLayoutRequest& request_;
    qvTextStyle style_;
    int32_t lineHeight_;
    const char* p_ = nullptr;
    size_t out_ = 0;           // output bytes written
    size_t pendingStart_ = 0;  // the pending run's first output byte
    int64_t penX_;             // of the pending run
    int64_t lineY_ = 0;
    int64_t rightEdge_ = 0;
    int32_t wordNumber_ = 0;
    int32_t breakRead_ = 0;
    int32_t tabRead_ = 0;
    // The word being read: where it starts, whether it opens its line, and the runs closed
    // inside it (the first with how many of its bytes are the word's).
    size_t wordStart_ = 0;
    bool wordOpensLine_ = false;
    qvTextRun* firstWordRun_ = nullptr;
    int32_t firstWordRunBytes_ = 0;
    int64_t wordRunsRight_ = 0;
    RunList runs_;
    // Bold and italic glyphs that the font's cache does not hold, measured once per layout.
    qv::fonts::GlyphMemo glyphs_;
    qvMeasuredPrefix pendingMeasure_{};
};

int64_t RightEdge(int64_t x, const qvStyledExtent& extent) {
    return x + extent.inkWidth + extent.maxXExtension;
}

int Scanner::NewRun(size_t start, size_t end, const qvTextStyle& style,
                    const qvStyledExtent& extent, qvTextRun** out) {
    auto* run = static_cast<qvTextRun*>(AllocMemBlock(sizeof(qvTextRun), 1));
    if (run == nullptr) return ERR_MEM;
    *run = {nullptr,
            request_.output + start,
            int32_t(end - start),
            qv::Saturate32(penX_),
            qv::Saturate32(lineY_),
            extent,
            style};
    *out = run;
    return 0;
}

// Closes the pending bytes up to end as a run at the pen; the rest stays pending.
int Scanner::CloseBytes(size_t end) {
    if (end == pendingStart_) return 0;
    qvStyledExtent extent{};
    if (int error = MeasurePending(end, &extent)) return error;
    qvTextRun* run = nullptr;
    if (int error = NewRun(pendingStart_, end, style_, extent, &run)) return error;
    runs_.Append(run);
    penX_ += run->extent.advance;
    pendingStart_ = end;
    return 0;
}

int Scanner::CloseInsideWord() {
    const size_t start = pendingStart_;
    if (int error = ClosePending()) return error;
    qvTextRun* run = runs_.tail();
    if (firstWordRun_ == nullptr) {
        firstWordRun_ = run;
        firstWordRunBytes_ = int32_t(out_ - std::max(start, wordStart_));
        wordRunsRight_ = std::numeric_limits<int64_t>::min();
    }
    wordRunsRight_ = std::max(wordRunsRight_, RightEdge(run->x, run->extent));
    return 0;
}

void Scanner::Tab() {
    const int32_t count = std::clamp(record_->tabCount, 0, 32);
    if (request_.replayTabs && tabRead_ < record_->tabResultCount) {
        const int32_t stop = record_->tabResults[tabRead_++];
        if (stop >= 0 && stop < count) {
            penX_ = int64_t(record_->tabs[stop]) - record_->leftMargin;
        } else {
            NewLine();
        }
        return;
    }
    int32_t result = -1;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t stop = record_->tabs[i];
        if (stop <= penX_ + record_->leftMargin) continue;
        // The stop itself, not reduced by the margin, meets the wrap width.
        if (request_.wrapWidth == 0 || stop < request_.wrapWidth) result = i;
        break;
    }
    if (result >= 0) {
        penX_ = int64_t(record_->tabs[result]) - record_->leftMargin;
    } else {
        NewLine();
    }
    if (!request_.replayTabs && record_->tabResultCount < request_.tabResultRoom)
        record_->tabResults[record_->tabResultCount++] = result;
}

int Scanner::ReadWord() {
    wordStart_ = out_;
    wordOpensLine_ = out_ == pendingStart_ && penX_ == 0;
    firstWordRun_ = nullptr;
    char* output = request_.output;
    for (char c = *p_; c != '\0' && !IsBreakCharacter(c); c = *p_) {
        if ((c == '[' || c == ']') && p_[1] == c) {
            output[out_++] = c;
            p_ += 2;
        } else if (request_.tagsOff || (c != '[' && c != ']')) {
            output[out_++] = c;
            ++p_;
        } else if (c == ']') {
            return ERR_TEXTSYNTAX;
        } else {
            qvTextStyle style = style_;
            int32_t used = 0;
            if (int error = ParseTextTag(L_, p_, &style, request_.colours, &used)) return error;
            p_ += used;
            if (style == style_) continue;
            if (out_ != pendingStart_) {
                if (int error = CloseInsideWord()) return error;
            }
            style_ = style;
        }
    }
    return 0;
}

int Scanner::EndWord() {
    const int32_t number = wordNumber_++;
    bool breakHere = false;
    if (request_.replayBreaks) {
        breakHere = breakRead_ < record_->wordBreakCount && record_->wordBreaks != nullptr &&
                    record_->wordBreaks[breakRead_] == number;
        if (breakHere) ++breakRead_;
    } else if (Wrapping()) {
        // The right edge is only needed against a wrap width: the pending bytes grow with
        // the line, so a layout without one would measure them over and over.
        if (firstWordRun_ != nullptr) rightEdge_ = std::max(rightEdge_, wordRunsRight_);
        if (out_ != pendingStart_) {
            qvStyledExtent extent{};
            if (int error = MeasurePending(out_, &extent)) return error;
            rightEdge_ = std::max(rightEdge_, RightEdge(penX_, extent));
        }
        breakHere = rightEdge_ > request_.wrapWidth;
        if (breakHere && record_->wordBreakCount < request_.wordBreakRoom)
            record_->wordBreaks[record_->wordBreakCount++] = number;
    }
    return breakHere ? MoveWord() : 0;
}

// Moves the word just read to a new line, unless it opens its line (then it overflows).
int Scanner::MoveWord() {
    if (wordOpensLine_) return 0;
    if (firstWordRun_ != nullptr) return MoveRunsOfWord();
    if (wordStart_ != pendingStart_) {
        if (int error = CloseBytes(wordStart_)) return error;
    }
    NewLine();
    return 0;
}

// A word with style changes inside: the runs from its first byte on go to the new line, the
// run that holds bytes from before the word split at the word's start.
int Scanner::MoveRunsOfWord() {
    qvTextRun* first = firstWordRun_;
    qvTextRun* moved = first;
    if (firstWordRunBytes_ == 0) {
        moved = first->next;
    } else if (firstWordRunBytes_ < first->length) {
        const auto start = size_t(first->text - request_.output);
        const size_t split = start + size_t(first->length - firstWordRunBytes_);
        const size_t end = start + size_t(first->length);
        qvStyledExtent extent{};
        if (int error = Measure(split, end, first->style, &extent)) return error;
        qvTextRun* part = nullptr;
        if (int error = NewRun(split, end, first->style, extent, &part)) return error;
        runs_.InsertAfter(first, part);
        first->length -= firstWordRunBytes_;
        if (int error = Measure(start, split, first->style, &first->extent)) return error;
        moved = part;
    }
    NewLine();
    for (qvTextRun* run = moved; run != nullptr; run = run->next) {
        run->x = qv::Saturate32(penX_);
        run->y = qv::Saturate32(lineY_);
        penX_ += run->extent.advance;
    }
    return 0;
}

// Spaces that end a line are not drawn under an underline or in a centred or right-aligned
// line: trailing runs of spaces go, and the line's last run that stays loses its spaces.
int Scanner::TrimLineEnds() {
    qvTextRun** link = runs_.headLink();
    while (*link != nullptr) {
        const int32_t y = (*link)->y;
        qvTextRun* last = nullptr;  // the last run that keeps bytes
        qvTextRun** trailing = link;
        qvTextRun** next = link;
        for (; *next != nullptr && (*next)->y == y; next = &(*next)->next) {
            qvTextRun* run = *next;
            const bool blank =
                std::all_of(run->text, run->text + run->length, [](char c) { return c == ' '; });
            if (!blank || !Trimmable(run)) {
                last = run;
                trailing = &run->next;
            }
        }
        qvTextRun* following = *next;
        qvTextRun* run = *trailing;
        *trailing = following;
        while (run != following) {
            qvTextRun* after = run->next;
            FreeMemBlock(run);
            run = after;
        }
        if (last != nullptr && Trimmable(last) && last->text[last->length - 1] == ' ') {
            while (last->text[last->length - 1] == ' ') --last->length;
            const auto start = size_t(last->text - request_.output);
            if (int error =
                    Measure(start, start + size_t(last->length), last->style, &last->extent))
                return error;
        }
        link = trailing;
    }
    return 0;
}

int Scanner::Scan(qvLayoutResult* result) {
    p_ = request_.text[0] != '\0' ? request_.text : " ";
    for (char c = *p_; c != '\0'; c = *p_) {
        if (c == '\n') {
            ++p_;
            if (int error = ClosePending()) return error;
            NewLine();
        } else if (c == '\r') {
            ++p_;
        } else if (c == ' ' || (c == '\t' && request_.tabsAsSpaces)) {
            ++p_;
            request_.output[out_++] = ' ';
        } else if (c == '\t') {
            ++p_;
            if (int error = ClosePending()) return error;
            Tab();
        } else {
            if (int error = ReadWord()) return error;
            if (int error = EndWord()) return error;
        }
    }
    if (int error = ClosePending()) return error;
    if (int error = TrimLineEnds()) return error;
    result->runs = runs_.Release();
    result->endX = qv::Saturate32(penX_);
    result->endY = qv::Saturate32(lineY_);
    return 0;
}

}  // namespace

bool TextMayHoldTags(const char* text) {
    return std::strpbrk(text, "[]") != nullptr;
}

size_t LayoutOutputSize(const char* text) {
    return std::max<size_t>(std::strlen(text), 1) + 1;
}

int LayoutText(qvVmState* L, qvTextParams* record, const qvLayoutRequest& request,
               qvLayoutResult* result) {
    *result = {};
    Scanner scanner(L, record, request);
    return scanner.Scan(result);
}

void FreeTextRuns(qvTextRun* runs) {
    while (runs != nullptr) {
        qvTextRun* next = runs->next;
        FreeMemBlock(runs);
        runs = next;
    }
}

namespace qv::text {

TextCounts CountText(const char* text) {
    TextCounts counts{0, 0, CountColourTags(text)};
    for (const char* p = text; *p != '\0'; ++p) {
        if (IsBreakCharacter(*p)) ++counts.breakCharacters;
        if (*p == '\t') ++counts.tabs;
    }
    return counts;
}

TextLayout::~TextLayout() {
    FreeTextRuns(result_.runs);
    FreeMemBlock(output_);
    FreeMemBlock(colours_);
    if (record_ != nullptr) {
        if (record_->wordBreaks == wordBreaks_) record_->wordBreaks = nullptr;
        if (record_->tabResults == tabResults_) record_->tabResults = nullptr;
        FreeMemBlock(wordBreaks_);
        FreeMemBlock(tabResults_);
    }
}

int TextLayout::Run(qvVmState* L, qvTextParams* record, const LayoutOptions& options) {
    const char* text = record->text != nullptr ? record->text : "";
    const TextCounts counts = CountText(text);
    record_ = record;
    output_ = static_cast<char*>(AllocMemBlock(LayoutOutputSize(text), 0));
    colours_ =
        static_cast<uint32_t*>(AllocMemBlock(size_t(counts.colourTags + 1) * sizeof(uint32_t), 0));
    if (output_ == nullptr || colours_ == nullptr) return ERR_MEM;
    qvColourStack colours{colours_, counts.colourTags + 1, 0};
    qvLayoutRequest request{text,
                            output_,
                            &colours,
                            record->wordBreaks != nullptr,
                            record->tabResults != nullptr,
                            options.startX,
                            options.tabsAsSpaces,
                            options.wrapWidth,
                            options.tagsOff,
                            options.alignment,
                            0,
                            0};
    if (request.replayBreaks) {
        request.wrapWidth = 0;
    } else {
        // A word ends at a break character or the text's end.
        request.wordBreakRoom = counts.breakCharacters + 1;
        wordBreaks_ = static_cast<int32_t*>(
            AllocMemBlock(size_t(request.wordBreakRoom) * sizeof(int32_t), 0));
        if (wordBreaks_ == nullptr) return ERR_MEM;
        record->wordBreaks = wordBreaks_;
        record->wordBreakCount = 0;
    }
    if (!request.replayTabs && !options.tabsAsSpaces && counts.tabs > 0) {
        request.tabResultRoom = counts.tabs;
        tabResults_ =
            static_cast<int32_t*>(AllocMemBlock(size_t(counts.tabs) * sizeof(int32_t), 0));
        if (tabResults_ == nullptr) return ERR_MEM;
        record->tabResults = tabResults_;
        record->tabResultCount = 0;
    }
    return LayoutText(L, record, request, &result_);
}

}  // namespace qv::text
