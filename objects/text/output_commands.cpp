// The text output commands: TextOut at a position, Print and NPrint at the display's text
// cursor, and InKeyStr, a line typed on the keyboard with its echo.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/convert.h"
#include "gfx/blit_host.h"
#include "gfx/geometry.h"
#include "gfx/library/object_types.h"
#include "objects/scene_seam.h"
#include "objects/text/layout.h"
#include "objects/text/render_text.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_display.h"
#include "objects/text/text_library.h"
#include "platform/linux/locale.h"
#include "platform/linux/time.h"
#include "platform/linux/video/video.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/option_tables.h"
#include "scene/display.h"
#include "scene/events/poll_events.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layers_library.h"

namespace {

int32_t IntArg(qvVmState* L, int idx) {
    return qv::Trunc32(GetArgNumber(L, idx));
}

}  // namespace

void FillFromDefaults(qvTextParams* record, const char* text) {
    record->style = *GetTextDefaults();
    record->encoding = GetDefaultEncoding();
    record->alignment = qv::gfx::LEFT;
    record->text = const_cast<char*>(text);
}

int ReadLayoutOptions(qvVmState* L, int t, qvBorrowedTextRender* record, bool wordWrapTable) {
    GetTableFieldInt(L, t, "align", &record->alignment, nullptr);
    GetTableFieldInt(L, t, "wordwrap", &record->rightMargin, nullptr);
    GetTableFieldInt(L, t, "encoding", &record->encoding, nullptr);
    double colour = 0;
    if (GetTableFieldNumber(L, t, "color", &colour, nullptr) != 0)
        record->style.colour = qv::Bits32(colour);
    if (!wordWrapTable) return 0;
    VmPushString(L, "wordwraptable");
    VmGetTable(L, t);
    int code = 0;
    if (VmType(L, -1) == VM_TTABLE) {
        const int32_t* entries = nullptr;
        int32_t count = 0;
        code = ReadWordWrapTable(L, -1, &entries, &count);
        record->wordBreaks = const_cast<int32_t*>(entries);
        record->wordBreakCount = count;
    }
    VmSetTop(L, -2);
    return code;
}

namespace {

// The current display's cursor, or ERR_FINDDISPLAY without a display.
int CurrentCursor(qvTextCursor** cursor) {
    *cursor = qv::text::TextDisplay().CurrentTextCursor();
    if (*cursor != nullptr) return 0;
    SetErrorNumber(1);
    return ERR_FINDDISPLAY;
}

// The texts of every argument, one blank apart, and a line feed for NPrint.
int PrintArguments(qvVmState* L, bool newLine) {
    CheckArgCount(L, 1, 0);
    const int count = VmGetTop(L);
    StrBuf buffer;
    StrBufInit(L, &buffer);
    for (int i = 1; i <= count; ++i) {
        if (i > 1) StrBufAddString(&buffer, " ");
        qv::AddScriptText(L, &buffer, i);
    }
    if (newLine) StrBufAddString(&buffer, "\n");
    StrBufPushResult(&buffer);
    return PrintText(L, VmToString(L, -1), false);
}

}  // namespace

int PrintText(qvVmState* L, const char* text, bool tagsOff) {
    qvTextCursor* cursor = nullptr;
    if (int code = CurrentCursor(&cursor)) return code;
    qvBorrowedTextRender record;
    FillFromDefaults(&record, text);
    // CENTER as x asks to start at the cursor.
    record.x = qv::gfx::CENTER;
    record.cursorX = cursor->x, record.cursorY = cursor->y;
    record.leftMargin = cursor->leftMargin, record.rightMargin = cursor->rightMargin;
    record.tabCount = std::clamp(cursor->tabCount, 0, kTextTabStops);
    std::copy_n(cursor->tabs, record.tabCount, record.tabs);
    return RenderText(L, nullptr, &record, qv::gfx::kTypePrint, tagsOff, nullptr, nullptr, 0,
                      nullptr);
}

int Print(qvVmState* L) {
    return PrintArguments(L, false);
}

int NPrint(qvVmState* L) {
    return PrintArguments(L, true);
}

int TextOut(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    qvBorrowedTextRender record;
    FillFromDefaults(&record, GetArgString(L, 3, nullptr));
    record.x = IntArg(L, 1), record.y = IntArg(L, 2);
    qvDrawTransform transform;
    qvDrawStyle style;
    const int smooth = (record.style.styleFlags & QV_STYLE_ANTIALIAS) != 0 ? 1 : 0;
    if (int code = ParseDrawTags(L, 4, 0, 0, 0, 0, smooth, &transform, &style, QV_DRAWTAGS_RESET))
        return code;
    if (VmType(L, 4) == VM_TTABLE) {
        if (int code = ReadLayoutOptions(L, 4, &record, true)) return code;
    } else {
        if (VmGetTop(L) >= 4 && VmType(L, 4) != VM_TNIL) record.alignment = IntArg(L, 4);
        if (VmGetTop(L) >= 5 && VmType(L, 5) != VM_TNIL) record.rightMargin = IntArg(L, 5);
    }
    if (record.rightMargin < 0 || !ValidTextEncoding(record.encoding)) return ERR_WRONGUSAGE;
    return RenderText(L, nullptr, &record, qv::gfx::kTypeTextOut, false, &transform, &style, 0,
                      nullptr);
}

// ---- InKeyStr -----------------------------------------------------------------------------

namespace {

constexpr int32_t kInputLimit = 1024;
enum : uint32_t {
    kKeyBackspace = 271,
    kKeyTab = 272,
    kKeyEnter = 273,
    kKeyReturn = 274,
    kKeySpace = 276,
};
enum : int32_t {
    kFilterAll,
    kFilterAlphaNumerical,
    kFilterAlphabetical,
    kFilterNumerical,
    kFilterHex
};

bool Accepted(int32_t filter, int c) {
    switch (filter) {
        case kFilterAll:
            return c == ' ' || LocaleIsGraph(c) != 0;
        case kFilterAlphaNumerical:
            return c == ' ' || LocaleIsAlNum(c) != 0;
        case kFilterAlphabetical:
            return c == ' ' || LocaleIsAlpha(c) != 0;
        case kFilterNumerical:
            return c >= '0' && c <= '9';
        case kFilterHex:
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        default:
            return false;
    }
}

// Why a display cannot take keyboard input now; 0 when it can.
int InputRefusal(const qvDisplay* display) {
    if (display == nullptr || display->state != DISPSTATE_OPEN) return ERR_CLOSEDDISPDRAW;
    switch (display->outputType) {
        case qv::gfx::kTargetDisplay:
            return 0;
        case qv::gfx::kTargetBGPic:
            return ERR_SELECTBG;
        case qv::gfx::kTargetMask:
            return ERR_SELECTMASK;
        case qv::gfx::kTargetAlphaChannel:
            return ERR_SELECTALPHACHANNEL;
        default:
            break;
    }
    if (display->doubleBufferOutput != 0) return ERR_ENDDOUBLEBUFFER;
    uint32_t type = 0;
    qvObjectId id{};
    if (qv::objects::Scene().RedirectedOutput(&type, &id) && type == uint32_t(qv::gfx::kTypeAnim))
        return ERR_SELECTANIM;
    return ERR_SELECTBRUSH;
}

// Takes away the newest echoed character: the top PRINT layer made without an id.
void UndoEcho(qvVmState* L) {
    UndoLayerByObject(L, uint32_t(qv::gfx::kTypePrint), {}, 1, nullptr, nullptr, nullptr, nullptr);
}

// One line typed with echo, at most maxLength characters (0: the input limit).
class LineInput {
public:
    LineInput(qvVmState* L, qvDisplay* display, int32_t filter, int32_t maxLength, bool password)
        : L_(L), display_(display), filter_(filter), maxLength_(maxLength), password_(password) {}

    int Run();
    std::string_view text() const { return {text_.data(), size_t(length_)}; }

private:
    struct CursorPlace {
        int32_t x, y;
    };
    // Acts on one key; false when the input ends.
    bool Key(uint32_t code, int* error);
    int Echo(char c);
    int Finish();

    qvVmState* L_;
    qvDisplay* display_;
    int32_t filter_, maxLength_;
    bool password_;
    std::array<char, kInputLimit + 1> text_{};
    std::array<CursorPlace, kInputLimit> places_{};
    int32_t length_ = 0;
    CursorPlace start_{};
};

int LineInput::Echo(char c) {
    const char shown[2] = {password_ ? '*' : c, '\0'};
    return PrintText(L_, shown, true);
}

bool LineInput::Key(uint32_t code, int* error) {
    qvTextCursor& cursor = display_->text;
    if (code == kKeyBackspace) {
        if (length_ == 0) return true;
        --length_;
        UndoEcho(L_);
        cursor.x = places_[size_t(length_)].x, cursor.y = places_[size_t(length_)].y;
        return true;
    }
    // The cursor goes back to where the input started for the final print.
    if (code == kKeyEnter || code == kKeyReturn) return false;
    if (code == kKeyTab || code == kKeySpace) code = ' ';
    if (code > 255) return true;
    if (maxLength_ > 0 && length_ >= maxLength_) return true;
    if (!Accepted(filter_, int(code))) return true;
    if (length_ == kInputLimit) return false;
    places_[size_t(length_)] = {cursor.x, cursor.y};
    text_[size_t(length_++)] = char(code);
    *error = Echo(char(code));
    return *error == 0;
}

int LineInput::Run() {
    start_ = {display_->text.x, display_->text.y};
    const int32_t layers = display_->layersEnabled;
    // Each echoed character is a layer, so that backspace can take it away again.
    display_->layersEnabled = 1;
    int error = 0;
    for (bool going = true; going && error == 0;) {
        int status = 0;
        if (PollEvents(L_, nullptr, &status) != 0) break;
        ExpireEvents(L_);
        // The keys are taken out under the queue's lock and acted on after it.
        std::array<uint32_t, kEventQueueSize> keys{};
        size_t count = 0;
        {
            qv::EventQueueLock lock;
            qvInputEvent event{};
            for (int i = 0; GetEvent(L_, i, &event, 0) != 0; ++i) {
                if (event.type == QV_EVENT_KEY && event.keyDown != 0 && count < keys.size())
                    keys[count++] = event.keyCode;
            }
            RemoveEvents(L_, -1, 1);
        }
        for (size_t i = 0; i < count && going && error == 0; ++i) going = Key(keys[i], &error);
        if (going && error == 0) {
            qv::WaitForHostEvent(qv::Clock().monotonicMicros() + 20000);
        }
    }
    for (int32_t i = 0; i < length_; ++i) UndoEcho(L_);
    display_->layersEnabled = layers;
    if (error != 0) return error;
    return Finish();
}

int LineInput::Finish() {
    display_->text.x = start_.x, display_->text.y = start_.y;
    // Nothing typed prints nothing: an empty text would be laid out as one blank, moving the
    // cursor and, with the layers on, leaving an empty layer behind.
    if (length_ == 0) return 0;
    std::array<char, kInputLimit + 1> shown{};
    for (int32_t i = 0; i < length_; ++i) shown[size_t(i)] = password_ ? '*' : text_[size_t(i)];
    return PrintText(L_, shown.data(), true);
}

}  // namespace

int InKeyStr(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    const int32_t filter = IntArg(L, 1);
    const int32_t maxLength = VmGetTop(L) >= 2 ? IntArg(L, 2) : 0;
    const bool password = VmGetTop(L) >= 3 && IntArg(L, 3) != 0;
    qvDisplay* display = qv::scene::Displays().current;
    if (int code = InputRefusal(display)) return code;
    LineInput input(L, display, filter, maxLength, password);
    if (int code = input.Run()) return code;
    VmPushLString(L, input.text().data(), input.text().size());
    return 1;
}
