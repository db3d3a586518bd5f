#include "runtime/applet_loader.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "libs/dos/pack.h"
#include "platform/linux/blocks.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/files.h"
#include "platform/linux/lists.h"
#include "platform/linux/paths.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/preload_items.h"
#include "runtime/report.h"

// Written into the program's data; the applet tool patches the offset word in the file.
// Volatile reads keep the compiler from folding the "no applet" test.
__attribute__((used)) qvAppletLink qvAppletLinkRecord = {
    "Quorvella",
    {0xDE, 0xAD, 0xC0, 0xDE},
    {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A},
    0,
};

namespace qv {

qvAppletLink ReadAppletLink() {
    qvAppletLink copy;
    const volatile auto* bytes = reinterpret_cast<const volatile uint8_t*>(&qvAppletLinkRecord);
    auto* out = reinterpret_cast<uint8_t*>(&copy);
    for (size_t i = 0; i < sizeof copy; ++i) out[i] = bytes[i];
    return copy;
}

void FreeAppletData(qvScriptHeader* header) {
    FreeMemBlock(header->programChunk);
    FreeMemBlock(header->secondChunk);
    header->programChunk = header->secondChunk = nullptr;
    header->programChunkSize = header->secondChunkSize = 0;
    FreePreloadItems(header);
    DrainList(&header->linkedFiles, FreeMemBlock);
    DrainList(&header->lineMap, [](qvLineMapEntry* entry) {
        FreeMemBlock(entry->sourceName);
        FreeMemBlock(entry->containerName);
        FreeMemBlock(entry);
    });
}

uint32_t LinkOffsetOf(const qvAppletLink& link) {
    return qv::LoadBigEndian32(link.offset);
}

namespace {

constexpr char kPlainMagic[4] = {'Q', 'V', 'A', 0};
constexpr char kPackedMagic[4] = {'Q', 'V', 'Z', 0};
constexpr uint32_t kLastSection = 31;
constexpr size_t kNameSize = 1024;        // names of linked files, line maps, labels, constants
constexpr size_t kConstantText = 65535;   // the longest text of a string constant
constexpr uint64_t kMinPreloadItem = 33;  // type byte and eight words
constexpr uint64_t kMinLinkedFile = 5;    // an empty name and a size
constexpr uint64_t kRegionBytes = 20;

// Reads the container's numbers and strings, checking every read and every count against
// the bytes left. A read past the end makes the reader fail; later reads give 0.
class SectionReader {
public:
    SectionReader(qvFile* file, int64_t end) : file_(file), end_(end) {}

    bool failed() const { return failed_; }
    void Fail() { failed_ = true; }
    int64_t Position() const { return FileSeek(file_, 0, QV_SEEK_CURRENT); }
    int64_t Left() const { return std::max<int64_t>(0, end_ - Position()); }
    // Whether count records of at least size bytes each can follow; fails when not.
    bool Fits(uint64_t count, uint64_t size) {
        if (!failed_ && count <= static_cast<uint64_t>(Left()) / std::max<uint64_t>(size, 1)) {
            return true;
        }
        failed_ = true;
        return false;
    }

    uint32_t U8() { return Number(1); }
    uint32_t U16() { return Number(2); }
    int32_t S16() { return static_cast<int16_t>(Number(2)); }
    uint32_t U32() { return Number(4); }
    int32_t S32() { return static_cast<int32_t>(Number(4)); }
    double F64() {
        uint64_t high = U32();
        return std::bit_cast<double>(high << 32 | U32());
    }

    void Bytes(void* out, uint64_t n) {
        if (!Fits(n, 1)) return;
        if (FileReadBuffered(file_, out, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) {
            failed_ = true;
        }
    }
    void Skip(uint64_t n) {
        if (Fits(n, 1)) FileSeek(file_, static_cast<int64_t>(n), QV_SEEK_CURRENT);
    }
    // n bytes, of which the first size - 1 are kept as a string in out.
    void Text(char* out, size_t size, uint64_t n) {
        uint64_t kept = std::min<uint64_t>(n, size - 1);
        out[0] = '\0';
        Bytes(out, kept);
        out[failed_ ? 0 : kept] = '\0';
        Skip(n - kept);
    }
    // A NUL-terminated string of which the first size - 1 bytes are kept; fails at the end,
    // and after limit bytes without a NUL.
    void String(char* out, size_t size, uint64_t limit = UINT64_MAX) {
        size_t kept = 0;
        for (uint64_t n = 0;; ++n) {
            int c = failed_ ? -1 : FileReadChar(file_);
            if (c < 0 || (c != 0 && n == limit)) {
                failed_ = true;
                break;
            }
            if (c == 0) break;
            if (kept + 1 < size) out[kept++] = static_cast<char>(c);
        }
        out[kept] = '\0';
    }
    // Reads n bytes at position, then comes back.
    void BytesAt(int64_t position, void* out, uint64_t n) {
        int64_t back = Position();
        FileSeek(file_, position, QV_SEEK_BEGINNING);
        Bytes(out, n);
        FileSeek(file_, back, QV_SEEK_BEGINNING);
    }

private:
    uint32_t Number(int bytes) {
        uint32_t value = 0;
        if (!failed_ && !ReadBE(file_, bytes, &value)) failed_ = true;
        return failed_ ? 0 : value;
    }

    qvFile* file_;
    int64_t end_;
    bool failed_ = false;
};

struct Version {
    uint32_t major = 0, minor = 0;
    // Background pictures and displays carry a fill from 4.7 on.
    bool HasFill() const { return major > 4 || (major == 4 && minor >= 7); }
};

struct LoadState {
    LoadState(qvVmState* state, qvStartupOptions* o, qvScriptHeader* h)
        : L(state), options(o), header(h) {}
    qvVmState* L;
    qvStartupOptions* options;
    qvScriptHeader* header;
    SectionReader* reader = nullptr;
    int64_t appletStart = 0;  // the link offset: where the container starts in the file
    int64_t appletSize = 0;
    Version version;
    qvDisplaySettings* defaultDisplay = nullptr;
    int result = 0;
};

// An offset + size stretch counted from the applet's start that lies inside it.
bool InsideApplet(const LoadState& st, uint64_t offset, uint64_t size) {
    return offset <= static_cast<uint64_t>(st.appletSize) &&
           size <= static_cast<uint64_t>(st.appletSize) - offset;
}

int Status(const SectionReader& r) {
    return r.failed() ? ERR_UNEXPECTEDEOF : 0;
}

char* CopyToBlock(const char* text) {
    size_t n = std::strlen(text) + 1;
    auto* block = static_cast<char*>(AllocMemBlock(n, 0));
    if (block != nullptr) std::memcpy(block, text, n);
    return block;
}

// --- The default display item (sections 3-6, 18-20, 24, 25, 28, 30) ---

// The display item these sections change: display 1 as the applet declared it, else the
// default display item, made by the first of them.
qvDisplaySettings* DefaultDisplay(LoadState& st) {
    if (st.defaultDisplay != nullptr) return st.defaultDisplay;
    qvPreloadItem* item = FindDisplayItem(st.header, 1);
    if (item == nullptr && AddDefaultDisplayItem(st.header, nullptr) == 0) {
        item = FindDisplayItem(st.header, 1);
    }
    if (item != nullptr) st.defaultDisplay = static_cast<qvDisplaySettings*>(item->data);
    return st.defaultDisplay;
}

int DisplayFlag(LoadState& st, uint32_t flag) {
    uint32_t on = st.reader->U8();
    if (st.reader->failed()) return ERR_UNEXPECTEDEOF;
    qvDisplaySettings* d = DefaultDisplay(st);
    if (d == nullptr) return ERR_MEM;
    if (on != 0) d->styleFlags |= flag;
    d->givenFlags |= flag;
    return 0;
}

uint32_t FlagOfSection(uint32_t type) {
    switch (type) {
        case 18:
            return QV_DISPFLAG_BORDERLESS;
        case 19:
            return QV_DISPFLAG_FIXED;
        case 20:
            return QV_DISPFLAG_SIZEABLE;
        case 24:
            return QV_DISPFLAG_HIDEPOINTER;
        case 25:
            return QV_DISPFLAG_NOMODESWITCH;
        case 30:
            return QV_DISPFLAG_NOHIDE;
        default:
            return 0;
    }
}

int DisplayFields(LoadState& st, uint32_t type) {
    SectionReader& r = *st.reader;
    int32_t a = 0, b = 0;
    uint32_t engine = 0, smooth = 0;
    if (type == 3) {
        a = r.S16();
        b = r.S16();
    } else if (type == 5 || type == 6) {
        a = r.S32();
        b = type == 6 ? r.S32() : 0;
    } else {
        engine = r.U8();
        a = r.S32();
        b = r.S32();
        smooth = r.U8();
    }
    if (r.failed()) return ERR_UNEXPECTEDEOF;
    qvDisplaySettings* d = DefaultDisplay(st);
    if (d == nullptr) return ERR_MEM;
    if (type == 3) {
        d->x = a;
        d->y = b;
    } else if (type == 5) {
        d->colour = static_cast<uint32_t>(a);
    } else if (type == 6) {
        d->width = a;
        d->height = b;
    } else {
        d->styleFlags |= engine == 0 ? QV_DISPFLAG_AUTOSCALE : QV_DISPFLAG_LAYERSCALE;
        d->givenFlags |= QV_DISPFLAG_AUTOSCALE | QV_DISPFLAG_LAYERSCALE;
        d->scaleWidth = a;
        d->scaleHeight = b;
        if (smooth != 0) {
            d->styleFlags |= QV_DISPFLAG_SMOOTHSCALE;
            d->givenFlags |= QV_DISPFLAG_SMOOTHSCALE;
        }
    }
    return 0;
}

int Title(LoadState& st) {
    char title[256];
    uint32_t length = st.reader->U16();
    st.reader->Text(title, sizeof title, length);
    if (st.reader->failed()) return ERR_UNEXPECTEDEOF;
    CopyText(st.header->pendingTitle, sizeof st.header->pendingTitle, title);
    if (qvPreloadItem* item = FindDisplayItem(st.header, 1)) {
        CopyText(static_cast<qvDisplaySettings*>(item->data)->title, 256, title);
    }
    return 0;
}

// --- Preload items (section 2) ---

void ReadGradient(SectionReader& r, qvGradient* g) {
    g->style = r.U8();
    for (double* field : {&g->centerX, &g->centerY, &g->balance, &g->border}) {
        *field = r.U32() / 1000000.0;
    }
    uint32_t count = r.U8();
    for (uint32_t i = 0; i < count && !r.failed(); ++i) {
        uint32_t colour = r.U32();
        uint32_t position = r.U32();
        if (i < kMaxGradientStops) g->stops[i] = {colour, position / 1000000.0};
    }
    g->stopCount = std::min<uint32_t>(count, kMaxGradientStops);
}

// Fill fields of background pictures and displays from 4.7 on; the fill colour only for
// background pictures, whose display colour came earlier.
void ReadFill(SectionReader& r, const Version& v, uint32_t* fillStyle, uint32_t* fillColour,
              qvGradient* g, uint32_t* brush, int32_t* tx, int32_t* ty) {
    *fillStyle = r.U8();
    if (fillColour != nullptr) *fillColour = g->startColour = r.U32();
    g->endColour = r.U32();
    g->angle = static_cast<uint32_t>(r.S16());
    *brush = r.U32();
    *tx = r.S32();
    *ty = r.S32();
    if (v.major != 4) ReadGradient(r, g);
}

void ReadRegions(SectionReader& r, qvDisplayRegion* regions, uint32_t* count) {
    uint32_t n = r.U32();
    if (!r.Fits(n, kRegionBytes)) return;
    for (uint32_t i = 0; i < n; ++i) {
        qvDisplayRegion region{r.U32(), r.S32(), r.S32(), r.S32(), r.S32()};
        if (i < kMaxRegions) regions[i] = region;
    }
    *count = std::min<uint32_t>(n, kMaxRegions);
}

void ReadDisplay(SectionReader& r, const Version& v, qvDisplaySettings* d) {
    InitDisplayDefaults(d, "Quorvella");
    d->bgpic = r.U32();
    d->x = r.S32();
    d->y = r.S32();
    d->width = r.S32();
    d->height = r.S32();
    d->colour = d->gradient.startColour = r.U32();
    d->styleFlags = r.U32();
    d->givenFlags = r.U32();
    d->scaleWidth = r.S32();
    d->scaleHeight = r.S32();
    ReadRegions(r, d->dragRegions, &d->dragRegionCount);
    ReadRegions(r, d->sizeRegions, &d->sizeRegionCount);
    r.Text(d->title, sizeof d->title, r.U16());
    if (v.HasFill()) {
        ReadFill(r, v, &d->fillStyle, nullptr, &d->gradient, &d->textureBrush, &d->textureX,
                 &d->textureY);
    }
}

void ReadPicture(SectionReader& r, const Version& v, uint32_t type, qvPictureRecord* p) {
    auto sizes = [&] {
        p->width = r.S16();
        p->height = r.S16();
        p->frames = r.S16();
        p->framesPerRow = r.S16();
        p->x = r.S16();
        p->y = r.S16();
    };
    if (type == QV_PRELOAD_BRUSH) {
        p->width = r.S16();
        p->height = r.S16();
        p->x = r.S16();
        p->y = r.S16();
        p->globalAlpha = r.S16();
        if (v.major > 4) p->hardware = r.U8();
    } else if (type == QV_PRELOAD_ANIM) {
        if (v.major > 2) p->fromDisk = r.U8();
        if (v.major != 3 && !(v.major == 4 && v.minor == 0)) sizes();
    } else {
        sizes();
    }
}

// The type's record, read into the matching member.
union TypeData {
    qvFillRecord fill;
    qvPictureRecord picture;
    qvButtonRecord button;
    qvDisplaySettings display;
};

const void* ReadTypeData(SectionReader& r, const Version& v, uint32_t type, TypeData* data) {
    std::memset(data, 0, sizeof *data);
    switch (type) {
        case QV_PRELOAD_BGPIC:
            InitGradientDefaults(&data->fill.gradient);
            if (v.HasFill()) {
                ReadFill(r, v, &data->fill.fillStyle, &data->fill.fillColour, &data->fill.gradient,
                         &data->fill.textureBrush, &data->fill.textureX, &data->fill.textureY);
            }
            return &data->fill;
        case QV_PRELOAD_BRUSH:
        case QV_PRELOAD_ANIM:
        case QV_PRELOAD_SPRITE:
            ReadPicture(r, v, type, &data->picture);
            return &data->picture;
        case QV_PRELOAD_BUTTON:
            data->button = {r.S16(), r.S16(), r.S16(), r.S16()};
            return &data->button;
        case QV_PRELOAD_DISPLAY:
            ReadDisplay(r, v, &data->display);
            return &data->display;
        default:
            return nullptr;
    }
}

int PreloadItem(LoadState& st) {
    SectionReader& r = *st.reader;
    uint32_t type = r.U8(), id = r.U32(), nameOffset = r.U32(), nameSize = r.U32();
    uint32_t linkedOffset = r.U32(), linkedSize = r.U32();
    uint32_t arg1 = r.U32(), arg2 = r.U32();
    int32_t line = r.S32();
    BlockPtr<TypeData> data(static_cast<TypeData*>(AllocMemBlock(sizeof(TypeData), 1)));
    if (!data) return ERR_MEM;
    const void* record = ReadTypeData(r, st.version, type, data.get());
    if (r.failed() || (nameSize != 0 && !InsideApplet(st, nameOffset, nameSize)) ||
        (linkedSize != 0 && !InsideApplet(st, linkedOffset, linkedSize))) {
        return ERR_UNEXPECTEDEOF;
    }
    BlockPtr<char> name;
    if (nameSize != 0) {
        name.reset(static_cast<char*>(AllocMemBlock(uint64_t{nameSize} + 1, 1)));
        if (!name) return ERR_MEM;
        r.BytesAt(st.appletStart + nameOffset, name.get(), nameSize);
        if (r.failed()) return ERR_UNEXPECTEDEOF;
    }
    qvPreloadItem* item =
        AppendPreloadItem(st.header, type, id, name.get(), arg1, arg2, line, 1, record);
    if (item == nullptr) return ERR_MEM;
    item->nameOffset = nameOffset;
    item->nameSize = nameSize;
    item->linkedOffset = linkedOffset;
    item->linkedSize = item->name != nullptr && IsBuiltInFontName(item->name) ? 0 : linkedSize;
    CopyText(item->containerPath, sizeof item->containerPath, st.options->appletPath);
    return 0;
}

int PreloadItems(LoadState& st) {
    uint32_t count = st.reader->U32();
    if (!st.reader->Fits(count, kMinPreloadItem)) return ERR_UNEXPECTEDEOF;
    for (uint32_t i = 0; i < count; ++i) {
        if (int result = PreloadItem(st)) return result;
    }
    return 0;
}

// --- Linked files, line maps, labels and constants ---

int LinkedFiles(LoadState& st) {
    SectionReader& r = *st.reader;
    uint32_t count = r.U32();
    r.U32();  // not used
    if (!r.Fits(count, kMinLinkedFile)) return ERR_UNEXPECTEDEOF;
    qvLinkedFile** tail = ListEnd(&st.header->linkedFiles);
    for (uint32_t i = 0; i < count; ++i) {
        BlockPtr<qvLinkedFile> file(
            static_cast<qvLinkedFile*>(AllocMemBlock(sizeof(qvLinkedFile), 1)));
        if (!file) return ERR_MEM;
        r.String(file->name, sizeof file->name);
        file->size = r.U32();
        if (file->size == 0xFFFFFFFF) {
            file->size = r.U32();
            file->offset = r.U32();
        } else {
            file->offset = static_cast<uint32_t>(r.Position() - st.appletStart);
            r.Skip(file->size);
        }
        if (r.failed() || !InsideApplet(st, file->offset, file->size)) return ERR_UNEXPECTEDEOF;
        CopyText(file->containerPath, sizeof file->containerPath, st.options->appletPath);
        *tail = file.release();
        tail = &(*tail)->next;
    }
    return 0;
}

int LineMap(LoadState& st, bool withContainer) {
    SectionReader& r = *st.reader;
    uint32_t count = r.U32();
    if (!r.Fits(count, withContainer ? 14 : 13)) return ERR_UNEXPECTEDEOF;
    qvLineMapEntry** tail = ListEnd(&st.header->lineMap);
    char source[kNameSize], container[kNameSize];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t first = r.U32(), last = r.U32(), offset = r.U32();
        r.String(source, sizeof source);
        if (withContainer) r.String(container, sizeof container);
        if (r.failed()) return ERR_UNEXPECTEDEOF;
        auto* entry = static_cast<qvLineMapEntry*>(AllocMemBlock(sizeof(qvLineMapEntry), 1));
        if (entry == nullptr) return ERR_MEM;
        *tail = entry;
        tail = &entry->next;
        entry->firstLine = first;
        entry->lastLine = last;
        entry->lineOffset = offset;
        entry->sourceName = CopyToBlock(source);
        entry->containerName = CopyToBlock(withContainer ? container : st.options->appletPath);
        if (entry->sourceName == nullptr || entry->containerName == nullptr) return ERR_MEM;
    }
    return 0;
}

int Labels(LoadState& st) {
    SectionReader& r = *st.reader;
    uint32_t count = r.U32();
    if (!r.Fits(count, 5)) return ERR_UNEXPECTEDEOF;
    char name[kNameSize];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value = r.U32();
        r.String(name, sizeof name);
        if (r.failed()) return ERR_UNEXPECTEDEOF;
        DefineLabel(st.L, name, static_cast<int>(value));
    }
    return 0;
}

int Constants(LoadState& st) {
    SectionReader& r = *st.reader;
    BlockPtr<char> text(static_cast<char*>(AllocMemBlock(kConstantText + 1, 0)));
    if (!text) return ERR_MEM;
    char name[kNameSize];
    for (;;) {
        r.String(name, sizeof name);
        if (r.failed()) return ERR_UNEXPECTEDEOF;
        if (name[0] == '\0') return 0;
        qvConstant rows[2] = {{name, nullptr, 0}, {nullptr, nullptr, 0}};
        if (r.U8() == 0) {
            rows[0].value = r.F64();
        } else {
            r.String(text.get(), kConstantText + 1, kConstantText);
            rows[0].string = text.get();
        }
        if (r.failed()) return ERR_UNEXPECTEDEOF;
        RegisterConstants(st.L, rows, 0);
    }
}

// --- Header settings ---

int Backfill(LoadState& st) {
    SectionReader& r = *st.reader;
    qvBackfill& b = st.header->display.backfill;
    uint32_t mode = r.U8();
    switch (mode) {
        case 1:
            b.startColour = r.S32();
            break;
        case 2:
            b.startColour = r.S32();
            b.endColour = r.S32();
            break;
        case 3:
            b.brushId = r.U32();
            break;
        case 4:
            b.brushId = r.U32();
            b.pictureX = r.S32();
            b.pictureY = r.S32();
            b.startColour = r.S32();
            b.endColour = r.S32();
            if (st.version.major > 3 || (st.version.major == 3 && st.version.minor >= 2)) {
                b.scalePicture = r.U8();
            }
            b.brushFile[0] = '\0';
            break;
        default:
            break;
    }
    b.mode = mode;
    return Status(r);
}

// Section 29: the display settings go back to their defaults and stay so.
int LockDisplaySettings(LoadState& st) {
    BlockPtr<qvStartupOptions> scratch(
        static_cast<qvStartupOptions*>(AllocMemBlock(sizeof(qvStartupOptions), 1)));
    if (!scratch) return ERR_MEM;
    SetDisplayDefaults(st.header, scratch.get());  // the run's own options stay as they are
    st.header->settingsLocked = 1;
    return 0;
}

int RequiredVersion(LoadState& st) {
    st.version.major = st.reader->U8();
    st.version.minor = st.reader->U8();
    if (st.reader->failed()) return ERR_UNEXPECTEDEOF;
    if (st.version.major > 5 || (st.version.major == 5 && st.version.minor > 0)) {
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u", st.version.major, st.version.minor);
        return ErrorWithText(ERR_APPLETVERSION, text);
    }
    return 0;
}

int ProgramChunk(LoadState& st) {
    SectionReader& r = *st.reader;
    uint32_t size = r.U32();
    if (!r.Fits(size, 1)) return ERR_UNEXPECTEDEOF;
    auto* chunk = static_cast<uint8_t*>(AllocMemBlock(size, 0));
    if (chunk == nullptr) return ERR_MEM;
    FreeMemBlock(st.header->programChunk);
    st.header->programChunk = chunk;
    st.header->programChunkSize = size;
    r.Bytes(chunk, size);
    return Status(r);
}

int HeaderByte(LoadState& st, uint32_t type) {
    uint32_t value = st.reader->U8();
    qvDisplayDefaults& d = st.header->display;
    switch (type) {
        case 16:
            d.displayMode = value;
            break;
        case 21:
            d.hideTitleBar = static_cast<int32_t>(value);
            break;
        default:
            d.depth = static_cast<int32_t>(value);
            break;
    }
    return Status(*st.reader);
}

int Section(LoadState& st, uint32_t type) {
    SectionReader& r = *st.reader;
    switch (type) {
        case 0:
            r.Skip(r.U32());
            return Status(r);
        case 1:
            return ProgramChunk(st);
        case 2:
            return PreloadItems(st);
        case 3:
        case 5:
        case 6:
        case 28:
            return DisplayFields(st, type);
        case 4:
            return Title(st);
        case 7:
            st.header->wholeScreenFirstDisplay = 1;
            return 0;
        case 8:
        case 27:
            return LineMap(st, type == 27);
        case 9:
            return Labels(st);
        case 10:
            return RequiredVersion(st);
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            r.String(st.header->info[type - 11], sizeof st.header->info[0]);
            return Status(r);
        case 16:
        case 21:
        case 23:
            return HeaderByte(st, type);
        case 17:
            return Backfill(st);
        case 22:
            st.header->display.screenWidth = r.S16();
            st.header->display.screenHeight = r.S16();
            return Status(r);
        case 26:
            return LinkedFiles(st);
        case 29:
            return LockDisplaySettings(st);
        case 31:
            return Constants(st);
        default:
            return DisplayFlag(st, FlagOfSection(type));
    }
}

// Sections until the program chunk; those after it are not read.
int ReadSections(LoadState& st) {
    SectionReader& r = *st.reader;
    r.Skip(4);  // header bytes that carry nothing for the loader
    for (;;) {
        uint32_t type = r.U8();
        if (r.failed()) return ERR_UNEXPECTEDEOF;
        if (type > kLastSection) return ERR_UNKNOWNSEC;
        if (int result = Section(st, type)) return result;
        if (type == 1) return 0;
    }
}

int64_t FileSize(qvFile* file) {
    FileSeek(file, 0, QV_SEEK_END);
    return FileSeek(file, 0, QV_SEEK_BEGINNING);
}

// The magic at offset, when more than four bytes follow it.
bool ReadMagic(qvFile* file, int64_t offset, int64_t size, char magic[4]) {
    return size - offset > 4 && FileSeek(file, offset, QV_SEEK_BEGINNING) >= 0 &&
           FileReadBuffered(file, magic, 4) == 4;
}

int AddTempFile(const char* path) {
    auto* node = static_cast<qvTempFile*>(AllocMemBlock(sizeof(qvTempFile), 1));
    if (node == nullptr) return ERR_MEM;
    node->path = CopyToBlock(path);
    if (node->path == nullptr) {
        FreeMemBlock(node);
        return ERR_MEM;
    }
    node->next = Runtime().tempFiles;
    Runtime().tempFiles = node;
    return 0;
}

int OpenForReading(const char* path, FilePtr* file) {
    file->reset(FileOpen(path, QV_FILE_READ));
    if (*file) return 0;
    return ErrorWithText(ERR_READFILE, path);
}

// A compressed applet is unpacked into a temporary file, listed first so that shutdown
// deletes it even when unpacking fails; that file is then the applet, at offset 0.
int Unpack(LoadState& st, FilePtr* file) {
    char temp[kPathBufferSize];
    if (int result = MakeTempPath(temp)) return result;
    if (int result = AddTempFile(temp)) return result;
    file->reset();
    int result = UnpackFile(kPackedMagic, st.options->appletPath, temp,
                            static_cast<uint32_t>(st.appletStart), nullptr);
    if (result != 0) return result;
    CopyText(st.options->appletPath, sizeof st.options->appletPath, temp);
    Runtime().linkOffset = 0;
    st.appletStart = 0;
    return OpenForReading(temp, file);
}

int OpenApplet(LoadState& st, FilePtr* file) {
    qvStartupOptions* o = st.options;
    if (int result = OpenForReading(o->appletPath, file)) return result;
    st.appletStart = Runtime().appletLinked ? Runtime().linkOffset : 0;
    int64_t size = FileSize(file->get());
    char magic[4];
    bool known = ReadMagic(file->get(), st.appletStart, size, magic);
    if (known && std::memcmp(magic, kPackedMagic, 4) == 0) {
        if (int result = Unpack(st, file)) return result;
        size = FileSize(file->get());
        known = ReadMagic(file->get(), 0, size, magic);
    }
    o->appletFlag = known && std::memcmp(magic, kPlainMagic, 4) == 0;
    if (!o->appletFlag) return ErrorWithText(ERR_NOAPPLET, FilePartEx(o->appletPath));
    st.appletSize = size - st.appletStart;
    return 0;
}

void ChangeToDirectoryOf(const char* path) {
    std::string_view text(path);
    size_t slash = text.rfind('/');
    if (slash == std::string_view::npos) return;
    std::string dir(text.substr(0, std::max<size_t>(slash, 1)));
    FreeMemBlock(ChangeDirPath(dir.c_str()));
}

int Load(LoadState& st) {
    qvStartupOptions* o = st.options;
    char absolute[kPathBufferSize];
    int result = MakeAbsolutePath(o->appletPath, absolute);
    // Missing is 1213; a file that exists but cannot be read is 1045 below.
    if (result == 0 && !ObjectExists(absolute)) result = ERR_FILEEXIST;
    if (result != 0) {
        SetErrorString(o->appletPath);  // the name as given
        return result;
    }
    CopyText(o->appletPath, sizeof o->appletPath, absolute);
    ChangeToDirectoryOf(absolute);
    PrintLoadingMessage(GetMessageText(kMsgOpeningScript),
                        o->scriptAlias[0] != '\0' ? o->scriptAlias : o->appletPath, 1);
    FilePtr file;
    if ((result = OpenApplet(st, &file)) != 0) return result;
    SectionReader reader(file.get(), st.appletStart + st.appletSize);
    st.reader = &reader;
    if ((result = ReadSections(st)) != 0) return result;
    PrintLoadingDone();
    return 0;
}

int LoadAppletBody(qvVmState* L) {
    auto* st = static_cast<LoadState*>(VmToUserdata(L, 1));
    st->result = Load(*st);
    // Error reports use the source line map from now on.
    SetRegistryString(L, "script", ":none:");
    return 0;
}

}  // namespace
}  // namespace qv

int LoadApplet(qvVmState* L, qvStartupOptions* options, qvScriptHeader* header) {
    header->pendingTitle[0] = '\0';
    qv::LoadState st(L, options, header);
    int status = VmCPCall(L, qv::LoadAppletBody, &st);
    return status != 0 ? status : st.result;
}
