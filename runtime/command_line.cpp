#include "runtime/command_line.h"

#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "engine/convert.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/files.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "platform/linux/startup_options.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/number_literal.h"
#include "runtime/strings.h"

namespace {

// Option ids: the index of each option's value slot. Slot 0 holds the applet file.
enum : uint32_t {
    kAppletFile = 0,
    kWindow = 1,
    kBorderless = 2,
    kSizeable = 3,
    kBackfill = 4,
    kHideTitleBar = 5,
    kBrush = 6,
    kStartColor = 7,
    kEndColor = 8,
    kDepth = 9,
    kCompile = 10,
    kQuiet = 11,
    kPubScreen = 12,
    kBrushFile = 13,
    kMasterVolume = 14,
    kFixed = 15,
    kNoSound = 16,
    kExeType = 17,
    kScalePicture = 18,
    kPicXPos = 19,
    kPicYPos = 20,
    kPicTrans = 21,
    kFullScreen = 22,
    kExportCommands = 23,
    kExportConstants = 24,
    kNoHide = 26,
    kOwnScreen = 27,
    kScrWidth = 28,
    kScrHeight = 29,
    kFakeFullScreen = 30,
    kHidePointer = 31,
    kNoModeSwitch = 32,
    kLinkFiles = 33,
    kDebugDevice = 34,
    kCompress = 35,
    kOverwrite = 36,
    kAutoScale = 37,
    kScaleWidth = 38,
    kScaleHeight = 39,
    kSmoothScale = 40,
    kLayerScale = 41,
    kUseWpa = 42,
    kWpaMode = 43,
    kLockSettings = 48,
    kLinkFonts = 49,
    kPrivate3 = 50,
    kScriptAlias = 52,
    kIcon16 = 53,
    kIcon24 = 54,
    kIcon32 = 55,
    kIcon48 = 56,
    kIcon128 = 57,
    kIcon256 = 58,
    kIcon512 = 59,
    kKeepProportions = 60,
    kFitScale = 61,
    kExportPlugins = 65,
    kValueSlots = 66,
};

constexpr char kBackfillChoices[] = "color|gradient|texture|picture";
constexpr char kExeTypeChoices[] =
    "classic|classic881|morphos|warpos|amigaos4|aros|win32|win32console|macos|macos86|linux|"
    "linuxppc|android|ios|applet";

}  // namespace

const qvOptionTemplateEntry qvOptionTemplate[kOptionTemplateRows + 1] = {
    {"WINDOW", kWindow, 0, qv::kMsgHelpWindow, 0, nullptr, nullptr},
    {"BORDERLESS", kBorderless, 0, 0, 0, nullptr, nullptr},
    {"SIZEABLE", kSizeable, 0, 0, 0, nullptr, nullptr},
    {"FIXED", kFixed, 0, 0, 0, nullptr, nullptr},
    {"NOHIDE", kNoHide, 0, 0, 0, nullptr, nullptr},
    {"FULLSCREEN", kFullScreen, 0, qv::kMsgHelpFullScreen, 0, nullptr, nullptr},
    {"FAKEFULLSCREEN", kFakeFullScreen, 0, 0, 0, nullptr, nullptr},
    {"OWNSCREEN", kOwnScreen, 0, 0, 0, nullptr, nullptr},
    {"SCRWIDTH", kScrWidth, 1, 0, 0, "<width>", nullptr},
    {"SCRHEIGHT", kScrHeight, 1, 0, 0, "<height>", nullptr},
    {"DEPTH", kDepth, 1, 0, 0, "<depth>", nullptr},
    {"HIDEPOINTER", kHidePointer, 0, 0, 0, nullptr, nullptr},
    {"NOMODESWITCH", kNoModeSwitch, 0, 0, 0, nullptr, nullptr},
    {"PUBSCREEN", kPubScreen, 1, 0, 0, "<name>", nullptr},
    {"BACKFILL", kBackfill, 1, qv::kMsgHelpBackfill, 0, "<mode>", kBackfillChoices},
    {"STARTCOLOR", kStartColor, 1, 0, 0, "<color>", "$RRGGBB"},
    {"ENDCOLOR", kEndColor, 1, 0, 0, "<color>", "$RRGGBB"},
    {"BRUSHFILE", kBrushFile, 1, 0, 0, "<image file>", nullptr},
    {"BRUSH", kBrush, 1, 0, 0, "<brush id>", nullptr},
    {"SCALEPICTURE", kScalePicture, 0, 0, 0, nullptr, nullptr},
    {"PICXPOS", kPicXPos, 1, 0, 0, "<pos>", nullptr},
    {"PICYPOS", kPicYPos, 1, 0, 0, "<pos>", nullptr},
    {"PICTRANS", kPicTrans, 1, 0, 0, "<color>", "$RRGGBB"},
    {"HIDETITLEBAR", kHideTitleBar, 0, 0, 0, nullptr, nullptr},
    {"COMPILE", kCompile, 1, qv::kMsgHelpCompiler, 0, "<output file>", nullptr},
    {"EXETYPE", kExeType, 1, 0, 0, "<type>", kExeTypeChoices},
    {"COMPRESS", kCompress, 0, 0, 0, nullptr, nullptr},
    {"OVERWRITE", kOverwrite, 0, 0, 0, nullptr, nullptr},
    {"LOCKSETTINGS", kLockSettings, 0, 0, 0, nullptr, nullptr},
    {"LINKFILES", kLinkFiles, 1, 0, 0, "<database file>", nullptr},
    {"LINKFONTS", kLinkFonts, 1, 0, 0, "<database file>", nullptr},
    {"ICON16X16", kIcon16, 1, 0, 0, "<image file>", nullptr},
    {"ICON24X24", kIcon24, 1, 0, 0, "<image file>", nullptr},
    {"ICON32X32", kIcon32, 1, 0, 0, "<image file>", nullptr},
    {"ICON48X48", kIcon48, 1, 0, 0, "<image file>", nullptr},
    {"ICON128X128", kIcon128, 1, 0, 0, "<image file>", nullptr},
    {"ICON256X256", kIcon256, 1, 0, 0, "<image file>", nullptr},
    {"ICON512X512", kIcon512, 1, 0, 0, "<image file>", nullptr},
    {"AUTOSCALE", kAutoScale, 0, qv::kMsgHelpScaling, 0, nullptr, nullptr},
    {"LAYERSCALE", kLayerScale, 0, 0, 0, nullptr, nullptr},
    {"SCALEWIDTH", kScaleWidth, 1, 0, 0, "<width>", nullptr},
    {"SCALEHEIGHT", kScaleHeight, 1, 0, 0, "<height>", nullptr},
    {"SMOOTHSCALE", kSmoothScale, 0, 0, 0, nullptr, nullptr},
    {"KEEPPROPORTIONS", kKeepProportions, 0, 0, 0, nullptr, nullptr},
    {"FITSCALE", kFitScale, 0, 0, 0, nullptr, nullptr},
    {"EXPORTCOMMANDS", kExportCommands, 1, qv::kMsgHelpExport, 0, "<file>", nullptr},
    {"EXPORTCONSTANTS", kExportConstants, 1, 0, 0, "<file>", nullptr},
    {"EXPORTPLUGINS", kExportPlugins, 1, 0, 0, "<file>", nullptr},
    {"QUIET", kQuiet, 0, qv::kMsgHelpMiscellaneous, 0, nullptr, nullptr},
    {"NOSOUND", kNoSound, 0, 0, 0, nullptr, nullptr},
    {"MASTERVOLUME", kMasterVolume, 1, 0, 0, "<volume>", nullptr},
    {"USEWPA", kUseWpa, 0, 0, 0, nullptr, nullptr},
    {"WPAMODE", kWpaMode, 1, 0, 0, "<mode>", nullptr},
    {"DEBUGDEVICE", kDebugDevice, 1, 0, 0, "<dev>", nullptr},
    {"PRIVATE1", kExportCommands, 1, -1, 0, nullptr, nullptr},
    {"PRIVATE2", kExportConstants, 1, 0, 0, nullptr, nullptr},
    {"PRIVATE3", kPrivate3, 1, 0, 0, nullptr, nullptr},
    {"SCRIPTALIAS", kScriptAlias, 1, 0, 0, nullptr, nullptr},
    {nullptr, 0, 0, 0, 0, nullptr, nullptr},
};

const qvExeType qvExeTypes[15] = {
    {"CLASSIC", 0x1},        {"CLASSIC881", 0x2}, {"MORPHOS", 0x4},     {"AMIGAOS4", 0x8},
    {"WARPOS", 0x10},        {"AROS", 0x20},      {"APPLET", 0x40},     {"WIN32", 0x80},
    {"WIN32CONSOLE", 0x100}, {"LINUX", 0x200},    {"MACOS", 0x400},     {"MACOS86", 0x800},
    {"ANDROID", 0x1000},     {"IOS", 0x2000},     {"LINUXPPC", 0x4000},
};

const qvIconOption qvIconOptions[qv::kIconCount] = {
    {"ic16x16", 16, 16, kIcon16},      {"ic24x24", 24, 24, kIcon24},
    {"ic32x32", 32, 32, kIcon32},      {"ic48x48", 48, 48, kIcon48},
    {"ic128x128", 128, 128, kIcon128}, {"ic256x256", 256, 256, kIcon256},
    {"ic512x512", 512, 512, kIcon512},
};

namespace qv {
namespace {

// Fields of the records that a value must fit, its NUL included.
constexpr size_t kPathFieldSize = 1024;

struct OptionValue {
    bool given = false;
    const char* text = nullptr;  // the argument (in the line buffer); nullptr for a switch
};
using ValueSlots = std::array<OptionValue, kValueSlots>;

struct MemBlockDeleter {
    void operator()(char* block) const { FreeMemBlock(block); }
};
using LineBuffer = std::unique_ptr<char, MemBlockDeleter>;

char* CopyString(std::string_view text) {
    auto* copy = static_cast<char*>(AllocMemBlock(text.size() + 1, 0));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// argv[1] to argv[argc - 1] joined by blanks into line (kCommandLineSize bytes): words that
// begin with "-" as they are, every other word between double quotes. ERR_ARGS when the line
// does not fit.
int JoinArguments(int argc, const char* const* argv, char* line) {
    size_t used = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        bool quoted = !word.starts_with('-');
        size_t extra = (quoted ? 2u : 0u) + (i > 1 ? 1u : 0u);
        size_t room = kCommandLineSize - 1 - used;
        if (word.size() > room || extra > room - word.size()) return ERR_ARGS;
        if (i > 1) line[used++] = ' ';
        if (quoted) line[used++] = '"';
        word.copy(line + used, word.size());
        used += word.size();
        if (quoted) line[used++] = '"';
    }
    line[used] = '\0';
    return 0;
}

const qvOptionTemplateEntry* FindOption(std::string_view name) {
    char key[32];
    if (name.size() >= sizeof key) return nullptr;
    key[name.copy(key, name.size())] = '\0';
    for (const qvOptionTemplateEntry* row = qvOptionTemplate; row->name != nullptr; ++row) {
        if (StrICmp(key, row->name) == 0) return row;
    }
    return nullptr;
}

// One pass over the line, left to right. Words are cut in place: their ends become NULs.
class Tokeniser {
public:
    Tokeniser(char* line, ValueSlots* slots, qvStartupOptions* options)
        : at_(line), slots_(*slots), unknownTail_(ListEnd(&options->unknownOptions)) {}

    int Run() {
        for (;;) {
            while (IsBlank(*at_)) ++at_;
            if (*at_ == '\0') break;
            int code = *at_ == '-' ? ReadOption() : ReadPlainWord();
            if (code != 0) return code;
        }
        return waiting_ != nullptr ? ERR_ARGS : 0;
    }

private:
    int ReadOption() {
        if (waiting_ != nullptr) return ERR_ARGS;
        const char* start = ++at_;
        while (IsNameChar(*at_)) ++at_;
        std::string_view name(start, static_cast<size_t>(at_ - start));
        pendingUnknown_ = nullptr;
        const qvOptionTemplateEntry* option = FindOption(name);
        if (option == nullptr) return AddUnknownOption(name);
        if (option->takesArgument != 0) {
            waiting_ = option;
        } else {
            slots_[option->id] = {true, nullptr};
        }
        return 0;
    }

    int AddUnknownOption(std::string_view name) {
        auto* node = static_cast<qvUnknownOption*>(AllocMemBlock(sizeof(qvUnknownOption), 1));
        char* copy = node != nullptr ? CopyString(name) : nullptr;
        if (copy == nullptr) {
            FreeMemBlock(node);
            return ERR_MEM;
        }
        node->name = copy;
        *unknownTail_ = node;
        unknownTail_ = &node->next;
        pendingUnknown_ = node;
        return 0;
    }

    // A quoted word runs to the next double quote, any other word to the next blank.
    int ReadPlainWord() {
        char* word = at_;
        if (*at_ == '"') {
            word = ++at_;
            char* close = std::strchr(at_, '"');
            if (close == nullptr) return ERR_ARGS;
            *close = '\0';
            at_ = close + 1;
        } else {
            while (*at_ != '\0' && !IsBlank(*at_)) ++at_;
            if (*at_ != '\0') *at_++ = '\0';
        }
        return TakeWord(word);
    }

    int TakeWord(const char* word) {
        if (waiting_ != nullptr) {
            slots_[waiting_->id] = {true, word};
            waiting_ = nullptr;
        } else if (pendingUnknown_ != nullptr) {
            pendingUnknown_->value = CopyString(word);
            if (pendingUnknown_->value == nullptr) return ERR_MEM;
            pendingUnknown_ = nullptr;
        } else if (!slots_[kAppletFile].given) {
            slots_[kAppletFile] = {true, word};
        } else {
            return ERR_ARGS;
        }
        return 0;
    }

    char* at_;
    ValueSlots& slots_;
    qvUnknownOption** unknownTail_;
    const qvOptionTemplateEntry* waiting_ = nullptr;
    qvUnknownOption* pendingUnknown_ = nullptr;
};

// What the apply steps read and fill.
struct Apply {
    const ValueSlots& slots;
    qvStartupOptions* options;
    qvDisplayDefaults& display;
    RuntimeState& rt;

    bool Given(uint32_t id) const { return slots[id].given; }
    const char* Text(uint32_t id) const { return slots[id].text; }
};

int StoreText(const char* text, char* field, size_t size) {
    size_t length = std::strlen(text);
    if (length >= size) return ERR_ARGS;
    std::memcpy(field, text, length + 1);
    return 0;
}

int StoreCopy(const char* text, char** field) {
    char* copy = CopyString(text);
    if (copy == nullptr) return ERR_MEM;
    FreeMemBlock(*field);
    *field = copy;
    return 0;
}

enum class Percent { kRefused, kNegated };

// The number literal of option id, when given, into *field; a "%" directly after it negates
// the value where percentages are allowed. Returns the literal's error code.
int StoreNumber(const Apply& a, uint32_t id, int32_t* field, Percent percent = Percent::kRefused) {
    if (!a.Given(id)) return 0;
    const char* text = a.Text(id);
    int used;
    int error;
    double value = ParseNumberLiteral(text, &used, &error);
    if (error != 0) return error;
    if (percent == Percent::kNegated && text[used] == '%') value = -value;
    *field = Trunc32(value);
    return 0;
}

bool ExportRequested(const Apply& a) {
    return a.Given(kExportCommands) || a.Given(kExportConstants) || a.Given(kExportPlugins);
}

int ApplyAppletFile(const Apply& a) {
    qvStartupOptions* o = a.options;
    bool linked = a.rt.appletLinked != 0;
    if (!a.Given(kAppletFile)) {
        // Export modes load no applet and need none.
        if (!linked) return ExportRequested(a) ? 0 : ERR_USERABORT;
        return StoreText(o->programPath, o->appletPath, sizeof o->appletPath);
    }
    const char* word = a.Text(kAppletFile);
    if (int code = StoreText(word, o->scriptArgument, sizeof o->scriptArgument)) return code;
    return StoreText(linked ? o->programPath : word, o->appletPath, sizeof o->appletPath);
}

bool IsAbsoluteName(const char* name) {
    return name[0] == '/' || std::strchr(name, ':') != nullptr;
}

int ApplyCompile(const Apply& a) {
    if (!a.Given(kCompile)) return 0;
    const char* name = a.Text(kCompile);
    char* out = a.options->compilerOutputPath;
    size_t size = sizeof a.options->compilerOutputPath;
    out[0] = '\0';
    if (!IsAbsoluteName(name) && GetCurrentDirName(out, size) == 0) out[0] = '\0';
    if (AddPart(out, name, size) == 0) return ERR_ARGS;
    a.options->compileRequested = 1;
    return 0;
}

struct StyleFlag {
    uint32_t id;
    uint32_t bit;
};
constexpr StyleFlag kStyleFlags[] = {
    {kBorderless, 0x1},         {kSizeable, 0x2},     {kFixed, 0x4},      {kNoHide, 0x20},
    {kHidePointer, 0x10},       {kNoModeSwitch, 0x8}, {kAutoScale, 0x40}, {kLayerScale, 0x100},
    {kKeepProportions, 0x8000}, {kFitScale, 0x10000},
};
constexpr uint32_t kSmoothScaleFlag = 0x80;

int ApplyWindowStyle(const Apply& a) {
    if (a.Given(kUseWpa)) {
        int32_t mode = 1;
        if (int code = StoreNumber(a, kWpaMode, &mode)) return code;
        SetSoftwareRendering(mode);
    }
    if (a.Given(kWindow)) a.display.displayMode = 1;
    if (a.Given(kHideTitleBar)) a.display.hideTitleBar = 1;
    for (const StyleFlag& flag : kStyleFlags) {
        if (a.Given(flag.id)) a.display.styleFlags |= flag.bit;
    }
    return a.Given(kAutoScale) && a.Given(kLayerScale) ? ERR_ARGS : 0;
}

int ApplyFileFlags(const Apply& a) {
    if (a.Given(kOverwrite)) a.options->overwrite = 1;
    if (a.Given(kLockSettings)) a.options->lockSettings = 1;
    return 0;
}

int ApplyScaling(const Apply& a) {
    if (!a.Given(kAutoScale) && !a.Given(kLayerScale)) return 0;
    if (a.Given(kSmoothScale)) a.display.styleFlags |= kSmoothScaleFlag;
    if (int code = StoreNumber(a, kScaleWidth, &a.display.scaleWidth, Percent::kNegated)) {
        return code;
    }
    return StoreNumber(a, kScaleHeight, &a.display.scaleHeight, Percent::kNegated);
}

int ApplyScreen(const Apply& a) {
    if (a.Given(kOwnScreen)) {
        if (a.Given(kFullScreen) || a.Given(kFakeFullScreen)) return ERR_ARGS;
        a.display.displayMode = 5;
    }
    for (auto [id, field] :
         {std::pair{kDepth, &a.display.depth}, std::pair{kScrWidth, &a.display.screenWidth},
          std::pair{kScrHeight, &a.display.screenHeight}}) {
        if (int code = StoreNumber(a, id, field)) return code;
    }
    return 0;
}

struct BackfillMode {
    const char* word;
    uint32_t mode;
};
constexpr BackfillMode kBackfillModes[] = {
    {"COLOR", 1}, {"RAINBOW", 2}, {"GRADIENT", 2}, {"TEXTURE", 3}, {"PICTURE", 4},
};

// The mode of "BACKFILL" when the options it needs are there; 0 when not.
uint32_t BackfillModeOf(const Apply& a) {
    uint32_t mode = 0;
    for (const BackfillMode& m : kBackfillModes) {
        if (StrICmp(a.Text(kBackfill), m.word) == 0) mode = m.mode;
    }
    bool start = a.Given(kStartColor);
    bool brush = a.Given(kBrush) || a.Given(kBrushFile);
    bool complete =
        (mode == 1 && start) || (mode == 2 && start && a.Given(kEndColor)) || (mode >= 3 && brush);
    return complete ? mode : 0;
}

int ApplyBackfill(const Apply& a) {
    qvBackfill& b = a.display.backfill;
    if (a.Given(kBrush) && a.Given(kBrushFile)) return ERR_BACKFILL;
    if (a.Given(kBackfill)) {
        b.mode = BackfillModeOf(a);
        if (b.mode == 0) return ERR_BACKFILL;
    }
    int32_t brush = static_cast<int32_t>(b.brushId);
    if (int code = StoreNumber(a, kBrush, &brush)) return code;
    b.brushId = static_cast<uint32_t>(brush);
    if (a.Given(kBrushFile)) {
        if (int code = StoreText(a.Text(kBrushFile), b.brushFile, kPathFieldSize)) return code;
    }
    if (a.Given(kScalePicture)) b.scalePicture = 1;
    for (auto [id, field] :
         {std::pair{kStartColor, &b.startColour}, std::pair{kEndColor, &b.endColour},
          std::pair{kPicXPos, &b.pictureX}, std::pair{kPicYPos, &b.pictureY},
          std::pair{kPicTrans, &b.transparentColour}}) {
        if (int code = StoreNumber(a, id, field)) return code;
    }
    return 0;
}

int ApplyMiscellaneous(const Apply& a) {
    if (a.Given(kQuiet)) a.options->quiet = 1;
    if (a.Given(kPubScreen)) {
        if (int code = LockDefaultPubScreen(a.Text(kPubScreen))) {
            SetErrorString(a.Text(kPubScreen));
            return code;
        }
        a.display.displayMode = 1;
    }
    if (int code = StoreNumber(a, kMasterVolume, &a.options->masterVolume)) return code;
    if (a.Given(kNoSound)) a.options->noSound = 1;
    return 0;
}

uint32_t ExeTypeBit(std::string_view word) {
    for (const qvExeType& type : qvExeTypes) {
        if (std::strlen(type.name) == word.size() &&
            StrNICmp(word.data(), type.name, word.size()) == 0) {
            return type.bit;
        }
    }
    return 0;
}

int ApplyExeType(const Apply& a) {
    if (!a.Given(kExeType)) return 0;
    uint32_t bits = 0;
    std::string_view rest = a.Text(kExeType);
    for (;;) {
        size_t plus = rest.find('+');
        uint32_t bit = ExeTypeBit(rest.substr(0, plus));
        if (bit == 0) return ERR_EXETYPE;
        bits |= bit;
        if (plus == std::string_view::npos) break;
        rest.remove_prefix(plus + 1);
    }
    a.options->executableTypeBits = bits;
    return 0;
}

int ApplyNames(const Apply& a) {
    for (auto [id, field] : {std::pair{kExportCommands, &a.rt.exportCommands},
                             std::pair{kExportConstants, &a.rt.exportConstants},
                             std::pair{kExportPlugins, &a.rt.exportPlugins}}) {
        if (!a.Given(id)) continue;
        if (int code = StoreCopy(a.Text(id), field)) return code;
    }
    if (a.Given(kPrivate3)) {
        if (int code = StoreText(a.Text(kPrivate3), a.rt.private3, sizeof a.rt.private3)) {
            return code;
        }
    }
    if (!a.Given(kScriptAlias)) return 0;
    return StoreText(a.Text(kScriptAlias), a.options->scriptAlias, sizeof a.options->scriptAlias);
}

// "LINKFILES" and "LINKFONTS" serve the compiler, which a player refuses ("COMPILE" ends the
// run with ERR_PLAYERCOMP): they are accepted and have no effect.

int ApplyOutput(const Apply& a) {
    if (a.Given(kDebugDevice)) {
        a.rt.debugDevice = 1;
        SelectDebugOutput(a.Text(kDebugDevice));
    }
    if (a.Given(kCompress)) a.options->compress = 1;
    return 0;
}

// The file's full name when it can be opened, else the name as given.
void ResolveIconFile(const char* name, char* out) {
    FilePtr file(FileOpen(name, QV_FILE_READ));
    if (file == nullptr || MakeAbsolutePath(name, out) != 0) std::strcpy(out, name);
}

int ApplyIcons(const Apply& a) {
    for (int i = 0; i < kIconCount; ++i) {
        uint32_t id = qvIconOptions[i].optionId;
        if (!a.Given(id)) continue;
        const char* name = a.Text(id);
        if (std::strlen(name) >= kPathFieldSize) return ERR_ARGS;
        auto* path = static_cast<char*>(AllocMemBlock(kPathFieldSize, 1));
        if (path == nullptr) return ERR_MEM;
        FreeMemBlock(a.rt.iconPaths[i]);
        a.rt.iconPaths[i] = path;
        ResolveIconFile(name, path);
    }
    return 0;
}

int ApplyFullScreen(const Apply& a) {
    if (a.Given(kFakeFullScreen)) {
        if (a.Given(kOwnScreen) || a.Given(kFullScreen)) return ERR_ARGS;
        a.display.displayMode = 6;
    }
    if (a.Given(kFullScreen)) {
        if (a.Given(kOwnScreen)) return ERR_ARGS;
        a.display.displayMode = 2;
    }
    return 0;
}

// The apply steps in their order: later steps override the display mode of earlier ones.
using ApplyStep = int (*)(const Apply&);
constexpr ApplyStep kApplySteps[] = {
    ApplyAppletFile, ApplyCompile,  ApplyWindowStyle,   ApplyFileFlags, ApplyScaling,
    ApplyScreen,     ApplyBackfill, ApplyMiscellaneous, ApplyExeType,   ApplyNames,
    ApplyOutput,     ApplyIcons,    ApplyFullScreen,
};

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, qvStartupOptions* options,
                     qvScriptHeader* header) {
    LineBuffer line(static_cast<char*>(AllocMemBlock(kCommandLineSize, 0)));
    if (line == nullptr) return ERR_MEM;
    if (int code = JoinArguments(argc, argv, line.get())) return code;
    ValueSlots slots{};
    if (int code = Tokeniser(line.get(), &slots, options).Run()) return code;
    Apply apply{slots, options, header->display, Runtime()};
    for (ApplyStep step : kApplySteps) {
        if (int code = step(apply)) return code;
    }
    return 0;
}

void FreeUnknownOptions(qvStartupOptions* options) {
    qv::DrainList(&options->unknownOptions, [](qvUnknownOption* node) {
        FreeMemBlock(node->name);
        FreeMemBlock(node->value);
        FreeMemBlock(node);
    });
}

void FreeIconPaths() {
    for (char*& path : Runtime().iconPaths) {
        FreeMemBlock(path);
        path = nullptr;
    }
}

}  // namespace qv
