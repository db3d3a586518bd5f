// The plugin SDK: everything a ".qvp" plugin needs from the run-time, and nothing else.
//
// A plugin is a shared object that calls nothing of the run-time directly. It carries a
// descriptor (QV_PLUGIN_DESCRIPTOR) that the run-time finds by scanning the plugin's loaded
// segments, and resolves its entry points ("InitPlugin", "ClosePlugin" and one group per
// capability) only through the descriptor's lookup function. "InitPlugin" receives the
// service table qvPluginAPI, through which the plugin reaches the run-time's services. The
// slot order of every sub-table is fixed: compiled plugins index the table by position.
//
// Records whose words hold addresses are pointer-sized on this platform.
#pragma once

#include <ft2build.h>
#include <sys/time.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

// --- Descriptor ---

// Native code of this build.
inline constexpr uint32_t kQvPluginArchNative = 3;
inline constexpr size_t kQvPluginMarkerSize = 8;

// Returns the entry point of that name, or nullptr.
using qvPluginLookup = void* (*)(const char* name);

struct qvPluginDescriptor {
    char marker[kQvPluginMarkerSize];  // "QUORVELA", no terminating NUL
    uint32_t architecture;
    uint32_t padding;
    qvPluginLookup lookup;  // never nullptr
};
static_assert(sizeof(qvPluginDescriptor) == 24);

// Defines the plugin's descriptor with its architecture word and lookup function. It must
// stay in the object even though nothing refers to it by name.
#define QV_PLUGIN_DESCRIPTOR(architectureWord, lookupFunction)                             \
    extern "C" __attribute__((used)) const qvPluginDescriptor qvPluginDescriptorRecord = { \
        {'Q', 'U', 'O', 'R', 'V', 'E', 'L', 'A'}, architectureWord, 0, lookupFunction}

// --- Information block and capabilities ---

// Run-time version and revision preset in qvPluginInfo.
inline constexpr uint32_t kQvRuntimeVersion = 5;
inline constexpr uint32_t kQvRuntimeRevision = 0;

enum : uint32_t {
    QV_PLUGIN_SCRIPTPROVIDER = 0x01,  // "GetScript", "FreeScript"
    QV_PLUGIN_LIBRARY = 0x02,         // "GetBaseTable", "GetCommands", "GetConstants",
                                      // "InitLibrary", "FreeLibrary"
    QV_PLUGIN_PICTUREREADER = 0x04,   // "IsImage", "LoadImage", "GetImage", "FreeImage",
                                      // "TransformImage"
    QV_PLUGIN_ANIMREADER = 0x08,      // "OpenAnim", "LoadFrame", "FreeFrame",
                                      // "GetFrameDelay", "CloseAnim"
    QV_PLUGIN_SOUNDREADER = 0x10,     // "OpenStream", "CloseStream", "SeekStream",
                                      // "StreamSamples", "GetFormatName"
    QV_PLUGIN_VECTORGRAPHICS = 0x20,  // "GetPathExtents", "DrawPath", "TranslatePath",
                                      // "GetCurrentPoint", "CreateVectorFont",
                                      // "FreeVectorFont", "OpenFont", "CloseFont"
    QV_PLUGIN_VIDEOREADER = 0x40,     // "OpenVideo", "CloseVideo", "NextPacket", "FreePacket",
                                      // "DecodeVideoFrame", "DecodeAudioFrame", "SeekVideo",
                                      // "FlushAudio", "FlushVideo", "GetVideoFrames",
                                      // "GetVideoFormat"
    QV_PLUGIN_PICTURESAVER = 0x80,    // "RegisterImageSaver", "SaveImage"
    QV_PLUGIN_ANIMSAVER = 0x100,      // "RegisterAnimSaver", "BeginAnimStream",
                                      // "WriteAnimFrame", "FinishAnimStream"
    QV_PLUGIN_SAMPLESAVER = 0x200,    // "RegisterSampleSaver", "SaveSample"
};

// Handed to "InitPlugin", which fills it.
struct qvPluginInfo {
    uint32_t capabilities;  // QV_PLUGIN_ flags
    // Preset to the run-time's version; the plugin overwrites them with the version it
    // requires.
    uint32_t version;
    uint32_t revision;
    // Free texts that the plugin list shows: one before the name, seven after it.
    const char* text0;
    const char* name;  // must equal the file name without ".qvp"
    const char* texts[7];
    // The plugin's own version, which applets may require.
    uint32_t pluginVersion;
    uint32_t pluginRevision;
};

// --- Records shared with the run-time (layouts fixed) ---

struct qvPluginAPI;
struct qvVmState;
struct qvFile;
struct qvFileHandle;
struct qvDirScan;
struct qvLock;

using qvCFunction = int (*)(qvVmState* L);

// Value types as VmType reports them and CheckArgType wants them.
inline constexpr int QV_TNONE = -1;
inline constexpr int QV_TNIL = 0;
inline constexpr int QV_TBOOLEAN = 1;
inline constexpr int QV_TLIGHTUSERDATA = 2;
inline constexpr int QV_TNUMBER = 3;
inline constexpr int QV_TSTRING = 4;
inline constexpr int QV_TTABLE = 5;
inline constexpr int QV_TFUNCTION = 6;
inline constexpr int QV_TUSERDATA = 7;
inline constexpr int QV_TTHREAD = 8;

// Pseudo-indices of the Vm slots: the registry and the globals table.
inline constexpr int kQvRegistryIndex = -10000;
inline constexpr int kQvGlobalsIndex = -10001;

// A script command; a table ends with {nullptr, nullptr}.
struct qvPluginCommand {
    const char* name;
    qvCFunction func;
};

// A script constant: a string when string is given, else the number; a table ends with a
// nullptr name.
struct qvPluginConstant {
    const char* name;
    const char* string;
    double value;
};

// An object id argument: a script id is {number, nullptr}, an automatic id {0, handle}.
struct qvPluginObjectId {
    uint32_t number;
    void* handle;
};

struct qvPluginTimeVal {
    uint32_t seconds;
    uint32_t microseconds;
};

// A tag list ends with tag 0.
struct qvPluginTag {
    uintptr_t tag;
    uintptr_t value;
};

// The string buffer of the Vm slots: lives in the plugin's frame, its pieces on the engine
// stack.
inline constexpr size_t kQvPluginStrBufSize = 1024;
struct qvPluginStrBuf {
    size_t position;
    int level;
    qvVmState* L;
    char buffer[kQvPluginStrBufSize];
};

struct qvPluginDateStamp {
    int32_t days;  // since 1 January 1978
    int32_t minutes;
    int32_t ticks;  // 1/50 s
};

// What ExamineForPlugin and ExamineNextForPlugin tell of one object.
struct qvPluginFileInfo {
    int32_t type;  // 0 file, 1 directory
    int64_t size;
    qvPluginDateStamp date;
    char name[256];
};

// Filled by LockBrushForPlugin: ten pointer-sized words.
struct qvPluginBrushLock {
    void* base;
    uintptr_t bytesPerRow;
    void* bitmap;
    uintptr_t bitsPerPixel;
    void* mask;
    void* maskPlane;
    uintptr_t maskBytesPerRow;
    uintptr_t width;
    uintptr_t height;
    uintptr_t pixelFormat;
};
static_assert(sizeof(qvPluginBrushLock) == 10 * sizeof(void*));

// Filled by LoadSoundDataForPlugin.
// Flags: the sample loops; its format number is above 1.
inline constexpr uintptr_t QV_SOUNDDATA_LOOPS = 1;
inline constexpr uintptr_t QV_SOUNDDATA_EXTENDED = 2;
struct qvPluginSoundData {
    void* data;
    uintptr_t size;  // bytes
    uintptr_t frames;
    uintptr_t channels;
    uintptr_t bits;
    uintptr_t rate;
    uintptr_t flags;  // QV_SOUNDDATA_ bits
};

// --- Entry points the run-time calls ---

// "InitPlugin": fills info; non-zero on success.
using qvInitPluginFn = int (*)(qvPluginInfo* info, const qvPluginAPI* api, const char* path);
using qvClosePluginFn = void (*)();

// Script library: the library's name (nullptr: the commands are globals), its commands and
// constants (nullptr when none); "InitLibrary" returns 0 or an error code. "FreeLibrary" is
// called before the engine closes once "InitLibrary" was called, also when it failed, so it
// must cope with a set-up left half-way.
using qvGetBaseTableFn = const char* (*)();
using qvGetCommandsFn = const qvPluginCommand* (*)();
using qvGetConstantsFn = const qvPluginConstant* (*)();
using qvInitLibraryFn = int (*)(qvVmState* L);
using qvFreeLibraryFn = void (*)(qvVmState* L);

// Picture reader. The information record of "IsImage" and "LoadImage".
enum : int32_t { QV_PICTURE_BITMAP = 0, QV_PICTURE_VECTOR = 1 };
struct qvPictureInfo {
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t transparentColour;  // 0xRRGGBB, or -1 for none
    int32_t hasAlpha;
    int32_t type;        // QV_PICTURE_
    int32_t forceAlpha;  // set: the caller gets the alpha channel even unasked
};
// Non-zero when the plugin reads the file; fills width, height, depth and type.
using qvIsImageFn = int (*)(const char* file, qvPictureInfo* info);
// The plugin's picture, or nullptr when it does not take the file.
using qvLoadImageFn = void* (*)(const char* file, qvPictureInfo* info);
// The picture's width x height pixels 0xAARRGGBB, owned by the picture.
using qvGetImageFn = uint32_t* (*)(void* picture);
using qvFreeImageFn = void (*)(void* picture);
// Renders the picture again: a point (x, y) of the source (sourceWidth x sourceHeight) lands
// at (m[0] x + m[2] y - offsetX, m[1] x + m[3] y - offsetY) in pixels (width x height,
// 0xAARRGGBB, cleared and provided by the caller). The offsets are the top left corner of the
// transformed source box, so that the box starts at (0, 0) and a rotation loses nothing.
// Non-zero on success.
using qvTransformImageFn = int (*)(void* picture, const double matrix[4], double offsetX,
                                   double offsetY, int32_t sourceWidth, int32_t sourceHeight,
                                   int32_t width, int32_t height, uint32_t* pixels);

// Savers fill their record when they register.
enum : uint32_t { QV_SAVER_ARGB = 1, QV_SAVER_ALPHA = 2 };
struct qvSaverRecord {
    int32_t formatId;  // the script constant's value
    uint32_t flags;    // QV_SAVER_: takes ARGB pixels (else palette indices), takes alpha
    const char* name;  // makes the constant "imgfmt_", "anmfmt_" or "smpfmt_" and the name
};
using qvRegisterSaverFn = void (*)(qvSaverRecord* saver);

// The picture that "SaveImage" receives: ARGB words as the saver's flags ask, else palette
// indices (QV_SAVEIMAGE_INDEXED). It returns a negative number on failure.
enum : uint32_t { QV_SAVEIMAGE_INDEXED = 1, QV_SAVEIMAGE_ALPHA = 2 };
struct qvSaveImageInfo {
    const void* pixels;  // width x height ARGB words, or index bytes (rows packed)
    int32_t width;
    int32_t height;
    uint32_t flags;
    const uint32_t* palette;     // 0xRRGGBB entries of indexed data
    int32_t colourCount;         // entries of the palette
    int32_t transparentIndex;    // the index of transparent pixels, or -1
    uint32_t transparentColour;  // 0xRRGGBB of ARGB data, or 0xFFFFFFFF for none
    int32_t quality;
};
using qvSaveImageFn = int (*)(const char* file, const qvSaveImageInfo* info);

// Entry points whose shapes their callers in the readers, savers and the vector-graphics
// code fix.
using qvPluginProc = void (*)();

// --- Vector back end (QV_PLUGIN_VECTORGRAPHICS) ---
//
// A path is a segment stream that the run-time writes and only the back end reads: each
// segment is a 32-bit code followed by its operands, packed without gaps in the machine's
// byte order (int32 and IEEE doubles, so doubles may sit on 4-byte boundaries: read them
// with memcpy), a string as its bytes, a zero byte and zero padding to
// qvPathStringRoom(length) bytes. A zero word follows the last segment. Every request carries
// the used length (the terminator not counted); a back end never reads past it and refuses
// a stream that does not parse.
enum : uint32_t {
    QV_PATH_MOVETO = 1,      // int relative; double x, y
    QV_PATH_LINETO = 2,      // int relative; double x, y
    QV_PATH_CURVETO = 3,     // int relative; double x1, y1, x2, y2, x3, y3
    QV_PATH_NEWSUBPATH = 5,  // none
    QV_PATH_CLOSE = 6,       // none
    QV_PATH_ARC = 7,         // double cx, cy, rx, ry, start, end (degrees); int clockwise
    QV_PATH_BOX = 8,         // double x, y, width, height; int corners a, b, c, d (0..100)
    QV_PATH_TEXT = 9,        // int vector-font handle; int font size; string (UTF-8)
};

// The bytes a string operand of that length takes: its text, a zero byte, padding.
inline constexpr size_t qvPathStringRoom(size_t length) {
    return 4 * ((length + 1) / 4 + 1);
}

// Stroke and fill state of a request. Unknown join, cap and fill-rule values mean the
// defaults (mitre, butt, winding); a dash pattern with a negative length or only zeros is
// solid.
enum : int32_t { QV_JOIN_MITER = 0, QV_JOIN_ROUND = 1, QV_JOIN_BEVEL = 2 };
enum : int32_t { QV_CAP_BUTT = 0, QV_CAP_ROUND = 1, QV_CAP_SQUARE = 2 };
enum : int32_t { QV_FILLRULE_WINDING = 0, QV_FILLRULE_EVENODD = 1 };
struct qvPathStrokeStyle {
    int32_t join;
    int32_t cap;
    int32_t fillRule;
    uint32_t antiAlias;  // 1: anti-aliased coverage
    double dashOffset;
    const double* dashes;
    int32_t dashCount;
};
static_assert(offsetof(qvPathStrokeStyle, dashOffset) == 16);
static_assert(offsetof(qvPathStrokeStyle, dashes) == 24);
static_assert(offsetof(qvPathStrokeStyle, dashCount) == 32 && sizeof(qvPathStrokeStyle) == 40);

// "GetPathExtents": the bounds of the filled area (fill 1) or of the stroke of lineWidth
// (fill 0) of the path moved by (translateX, translateY); all four 0 for a path that covers
// nothing.
struct qvPathExtentsRequest {
    const uint8_t* stream;
    size_t length;
    const qvPathStrokeStyle* style;
    uint32_t fill;
    int32_t lineWidth;
    double translateX;
    double translateY;
    double left, top, right, bottom;  // results
};
static_assert(offsetof(qvPathExtentsRequest, fill) == 24);
static_assert(offsetof(qvPathExtentsRequest, translateX) == 32);
static_assert(offsetof(qvPathExtentsRequest, left) == 48);
static_assert(sizeof(qvPathExtentsRequest) == 80);

// "TranslatePath": moves every coordinate of the stream in place.
struct qvPathTranslateRequest {
    uint8_t* stream;
    size_t length;
    double dx;
    double dy;
};
static_assert(offsetof(qvPathTranslateRequest, dx) == 16 && sizeof(qvPathTranslateRequest) == 32);

// A point (x, y) of the path lands at (m[0] x + m[2] y + m[4], m[1] x + m[3] y + m[5]).
struct qvPathMatrix {
    double m[6];
};
static_assert(sizeof(qvPathMatrix) == 48);

// "DrawPath": writes the coverage (0 to 255) of the path's fill (fill 1) or of its stroke of
// strokeWidth (fill 0) into the caller's 8-bit plane. A point of the path goes through the
// matrix (none: the identity), then (offsetX, offsetY) is subtracted.
struct qvPathDrawRequest {
    const uint8_t* stream;
    size_t length;
    const qvPathStrokeStyle* style;
    uint32_t fill;
    int32_t strokeWidth;
    uint32_t colour;  // 0xRRGGBB; coverage does not depend on it
    uint32_t reserved;
    uint8_t* plane;  // first byte of the plane
    uint32_t bytesPerRow;
    int32_t width;
    int32_t height;
    uint32_t reserved2;
    double offsetX;
    double offsetY;
    double originX;  // left and top of the path's extents, for back ends that want them
    double originY;
    const qvPathMatrix* matrix;
};
static_assert(offsetof(qvPathDrawRequest, fill) == 24);
static_assert(offsetof(qvPathDrawRequest, plane) == 40);
static_assert(offsetof(qvPathDrawRequest, bytesPerRow) == 48);
static_assert(offsetof(qvPathDrawRequest, offsetX) == 64);
static_assert(offsetof(qvPathDrawRequest, originX) == 80);
static_assert(offsetof(qvPathDrawRequest, matrix) == 96 && sizeof(qvPathDrawRequest) == 104);

// Each entry returns non-zero on success. A vector-font handle is a small non-zero number
// (the stream keeps it in 32 bits); the back end loads glyph outlines from the face the
// run-time hands over without changing its size or transform.
using qvGetPathExtentsFn = int (*)(qvPathExtentsRequest* request);
using qvDrawPathFn = int (*)(const qvPathDrawRequest* request);
using qvTranslatePathFn = int (*)(const qvPathTranslateRequest* request);
// The point a next relative segment would start from ((0, 0) when there is none).
using qvGetCurrentPointFn = int (*)(const uint8_t* stream, size_t length,
                                    const qvPathStrokeStyle* style, double* x, double* y);
// 0 when the face cannot give outlines.
using qvCreateVectorFontFn = uint32_t (*)(FT_Face face);
using qvFreeVectorFontFn = void (*)(uint32_t handle);

// --- The service table ---

struct qvPluginCLib {
    void* (*malloc)(size_t);
    void* (*calloc)(size_t, size_t);
    void* (*realloc)(void*, size_t);
    void (*free)(void*);
    char* (*strdup)(const char*);
    FILE* (*fopen)(const char*, const char*);
    int (*fclose)(FILE*);
    int (*fseek)(FILE*, long, int);
    long (*ftell)(FILE*);
    size_t (*fread)(void*, size_t, size_t, FILE*);
    size_t (*fwrite)(const void*, size_t, size_t, FILE*);
    int (*fgetc)(FILE*);
    int (*fputc)(int, FILE*);
    int (*ferror)(FILE*);
    int (*feof)(FILE*);
    int (*vfprintf)(FILE*, const char*, va_list);
    int (*vsnprintf)(char*, size_t, const char*, va_list);
    int (*vprintf)(const char*, va_list);
    void (*qsort)(void*, size_t, size_t, int (*)(const void*, const void*));
    int (*vsscanf)(const char*, const char*, va_list);
    double (*strtod)(const char*, char**);
    long (*strtol)(const char*, char**, int);
    unsigned long (*strtoul)(const char*, char**, int);
    // Through the run-time's ISO 8859-1 case tables.
    int (*StrICmpForPlugin)(const char*, const char*);
    int (*StrNICmpForPlugin)(const char*, const char*, size_t);
    int (*ToLowerChar)(int);
    int (*ToUpperChar)(int);
    void (*StrToLower)(char*);
    void (*StrToUpper)(char*);
    int (*gettimeofday)(struct timeval*, void*);
    time_t (*time)(time_t*);
    long (*lrint)(double);
};
static_assert(sizeof(qvPluginCLib) == 32 * sizeof(void*));

struct qvPluginSys {
    // Sets the value of every pair with tag 25 to 0; returns how many there were.
    int (*CountAndClearTags)(qvPluginTag* tags);
    // The code of a new error text (1499 for the first), or 1000.
    int (*RegisterErrorText)(const char* text);
    // The text and number that the next error message inserts.
    void (*SetErrorString)(const char* text);
    void (*SetErrorNumber)(uint32_t number);
    void (*FormatErrorMessage)(int code, char* out, size_t size);
    void (*TimerGetSysTime)(qvPluginTimeVal* out);
    void (*TimerSubTime)(qvPluginTimeVal* time, const qvPluginTimeVal* operand);
    void (*TimerAddTime)(qvPluginTimeVal* time, const qvPluginTimeVal* operand);
    // -1, 0 or 1 as a is earlier than, equal to or later than b.
    int (*TimerCmpTime)(const qvPluginTimeVal* a, const qvPluginTimeVal* b);
    void (*DelayMillis)(uint32_t milliseconds);
    // "DD-Mon-YY HH:MM:SS" of the current time.
    void (*FormatFullDate)(char* buffer, size_t size);
    // Flags bit 0: cleared. nullptr when memory is short.
    void* (*AllocMemForPlugin)(size_t size, uint32_t flags);
    void (*FreeMemForPlugin)(void* block);
};
static_assert(sizeof(qvPluginSys) == 13 * sizeof(void*));

// The run-time's file layer (names may be virtual files, ":::...").
struct qvPluginDos {
    qvFile* (*FileOpen)(const char* name, int mode);  // 0 read, 1 write, 2 read-write
    int (*FileClose)(qvFile* file);
    // Offset as a 32-bit word: signed from the current position (mode 0) and from the end
    // (mode 2), unsigned from the beginning (mode 1). Returns the previous position, or -1.
    int64_t (*SeekFileForPlugin)(qvFile* file, uint32_t offset, int mode);
    int64_t (*FileReadBuffered)(qvFile* file, void* buffer, int64_t n);
    int64_t (*FileWrite)(qvFile* file, const void* buffer, int64_t n);
    int (*FileReadChar)(qvFile* file);
    int (*FileWriteChar)(qvFile* file, int byte);
    int (*FileAtEnd)(qvFile* file);
    int (*DeleteFilePath)(const char* path);
    qvFileHandle* (*OpenFileEx)(const char* name, int mode);
    void (*CloseFileEx)(qvFileHandle* handle);
    int (*NameFromFileEx)(qvFileHandle* handle, char* buffer, size_t size);
    int (*ExamineForPlugin)(qvFileHandle* handle, qvPluginFileInfo* info);
    int (*ExamineDirEx)(qvFileHandle* handle, qvDirScan** scan);
    void (*FreeDirContext)(qvDirScan* scan);
    int (*ExamineNextForPlugin)(qvFileHandle* handle, qvDirScan* scan, qvPluginFileInfo* info);
    int (*MakeDirPath)(const char* path, qvLock** lock);
    int (*RenamePath)(const char* oldName, const char* newName);
    int (*GetCurrentDirName)(char* out, size_t size);
    int (*MakeTempPath)(char* out);  // 1024 bytes
    int (*AddPart)(char* path, const char* name, size_t size);
    const char* (*PathFilePart)(const char* path);
    const char* (*FilePartEx)(const char* path);
};
static_assert(sizeof(qvPluginDos) == 23 * sizeof(void*));

// Attribute of GetBitMapAttrForPlugin: the picture's pixel buffer.
inline constexpr uint32_t kQvBitMapAttrPixels = 24;

struct qvPluginGfx {
    // Width, height and depth of a picture the platform loader reads; non-zero on success.
    int (*QueryPictureForPlugin)(const char* file, int32_t* width, int32_t* height, int32_t* depth);
    // A picture of the platform loader whose pixels are 0xRRGGBBAA (alpha 0xFF without an
    // alpha channel), or nullptr.
    void* (*LoadPictureForPlugin)(const char* file, int32_t* width, int32_t* height,
                                  int32_t* hasAlpha);
    void* (*GetBitMapAttrForPlugin)(void* picture, uint32_t attribute);
    void (*FreePictureForPlugin)(void* picture);
    // A lock of the brush's bitmap, or nullptr when there is no such brush or it cannot be
    // locked.
    void* (*LockBrushForPlugin)(const qvPluginObjectId* brush, uint32_t flags,
                                qvPluginBrushLock* record);
    void (*UnlockBitMapForPlugin)(void* lock);
};
static_assert(sizeof(qvPluginGfx) == 6 * sizeof(void*));

struct qvPluginSound {
    // A handle, or nullptr when the sample does not exist or is in use. Without borrow the
    // data are a copy.
    void* (*LoadSoundDataForPlugin)(const qvPluginObjectId* sample, int borrow, uint32_t flags,
                                    qvPluginSoundData* data);
    void (*FreeSoundDataForPlugin)(void* handle);
};
static_assert(sizeof(qvPluginSound) == 2 * sizeof(void*));

struct qvPluginReq {
    // The chosen button: 1, 2, ... from the left, the last one 0.
    int (*ShowMessageForPlugin)(const char* title, const char* text, const char* buttons);
    // 1 with the chosen file (or drawer) in path (1024 bytes), 0 when cancelled.
    int (*RequestFileForPlugin)(const char* title, char* path);
    int (*RequestPathForPlugin)(const char* title, char* path);
};
static_assert(sizeof(qvPluginReq) == 3 * sizeof(void*));

struct qvPluginFont {
    // The host path of the file of a TrueType font of that name (for FreeType or fopen) into
    // path; non-zero when found.
    int (*FindTrueTypeFont)(const char* name, char* path, size_t size);
};
static_assert(sizeof(qvPluginFont) == 1 * sizeof(void*));

struct qvPluginFreeType {
    FT_Error (*NewLibrary)(FT_Library* library);
    FT_Error (*DoneLibrary)(FT_Library library);
    decltype(&::FT_New_Face) FT_New_Face;
    decltype(&::FT_New_Memory_Face) FT_New_Memory_Face;
    decltype(&::FT_Load_Glyph) FT_Load_Glyph;
    decltype(&::FT_Render_Glyph) FT_Render_Glyph;
    decltype(&::FT_Get_Glyph) FT_Get_Glyph;
    decltype(&::FT_Done_Glyph) FT_Done_Glyph;
    decltype(&::FT_Outline_Transform) FT_Outline_Transform;
    decltype(&::FT_Outline_Translate) FT_Outline_Translate;
    decltype(&::FT_Outline_Get_Bitmap) FT_Outline_Get_Bitmap;
    decltype(&::FT_Outline_Get_CBox) FT_Outline_Get_CBox;
    decltype(&::FT_Outline_Decompose) FT_Outline_Decompose;
    decltype(&::FT_Done_Face) FT_Done_Face;
    decltype(&::FT_Get_Char_Index) FT_Get_Char_Index;
    decltype(&::FT_Get_First_Char) FT_Get_First_Char;
    decltype(&::FT_Get_Next_Char) FT_Get_Next_Char;
    decltype(&::FT_Set_Transform) FT_Set_Transform;
    decltype(&::FT_Set_Charmap) FT_Set_Charmap;
    decltype(&::FT_Set_Pixel_Sizes) FT_Set_Pixel_Sizes;
    decltype(&::FT_Set_Char_Size) FT_Set_Char_Size;
    decltype(&::FT_MulFix) FT_MulFix;
    decltype(&::FT_Vector_Transform) FT_Vector_Transform;
    decltype(&::FT_Get_Kerning) FT_Get_Kerning;
    decltype(&::FT_Get_Sfnt_Table) FT_Get_Sfnt_Table;
    decltype(&::FT_Load_Sfnt_Table) FT_Load_Sfnt_Table;
};
static_assert(sizeof(qvPluginFreeType) == 26 * sizeof(void*));

// The script engine's stack and argument interface. Getters that fail raise a script error
// and do not return; so does RaiseErrorForPlugin.
struct qvPluginVm {
    int (*VmGetTop)(qvVmState* L);
    void (*VmSetTop)(qvVmState* L, int idx);
    void (*VmPushValue)(qvVmState* L, int idx);
    void (*VmRemove)(qvVmState* L, int idx);
    void (*VmInsert)(qvVmState* L, int idx);
    void (*VmReplace)(qvVmState* L, int idx);
    int (*VmIsCFunction)(qvVmState* L, int idx);
    int (*VmIsNumber)(qvVmState* L, int idx);
    int (*VmIsString)(qvVmState* L, int idx);
    int (*VmIsUserdata)(qvVmState* L, int idx);
    int (*VmType)(qvVmState* L, int idx);
    int (*VmEqual)(qvVmState* L, int i1, int i2);
    int (*VmRawEqual)(qvVmState* L, int i1, int i2);
    int (*VmCompare)(qvVmState* L, int i1, int i2, int caseSensitive);
    double (*VmToNumber)(qvVmState* L, int idx);
    const char* (*VmToString)(qvVmState* L, int idx);
    size_t (*VmStrLen)(qvVmState* L, int idx);
    qvCFunction (*VmToCFunction)(qvVmState* L, int idx);
    void* (*VmToUserdata)(qvVmState* L, int idx);
    const void* (*VmToPointer)(qvVmState* L, int idx);
    void (*VmPushNil)(qvVmState* L);
    void (*VmPushNumber)(qvVmState* L, double n);
    void (*VmPushLString)(qvVmState* L, const char* s, size_t length);
    void (*VmPushString)(qvVmState* L, const char* s);
    void (*VmPushLightUserdata)(qvVmState* L, void* p);
    void (*VmPushCClosure)(qvVmState* L, qvCFunction f, int n);
    void (*VmGetTable)(qvVmState* L, int idx);
    void (*VmRawGet)(qvVmState* L, int idx);
    void (*VmRawGetI)(qvVmState* L, int idx, int n);
    void (*VmNewTable)(qvVmState* L);
    void (*VmGetFEnv)(qvVmState* L, int idx);
    void (*VmSetTable)(qvVmState* L, int idx);
    void (*VmRawSet)(qvVmState* L, int idx);
    void (*VmRawSetI)(qvVmState* L, int idx, int n);
    int (*VmSetFEnv)(qvVmState* L, int idx);
    int (*VmPCall)(qvVmState* L, int nargs, int nresults, int errfunc);
    int (*VmNext)(qvVmState* L, int idx);
    void (*VmConcat)(qvVmState* L, int n);
    int (*VmPushUpvalues)(qvVmState* L);
    const char* (*VmGetUpvalue)(qvVmState* L, int funcidx, int n);
    const char* (*VmSetUpvalue)(qvVmState* L, int funcidx, int n);
    void* (*VmNewUserdata)(qvVmState* L, size_t size);
    int (*VmSetMetatable)(qvVmState* L, int idx);
    int (*VmGetMetatable)(qvVmState* L, int idx);
    void (*RaiseErrorForPlugin)(qvVmState* L, int code);  // does not return
    const char* (*GetArgString)(qvVmState* L, int idx, size_t* len);
    const char* (*GetOptArgString)(qvVmState* L, int idx, const char* def, size_t* len);
    double (*GetArgNumber)(qvVmState* L, int idx);
    double (*GetOptArgNumber)(qvVmState* L, int idx, double def);
    uint32_t (*GetArgUInt32)(qvVmState* L, int idx);
    uint32_t (*GetOptArgUInt32)(qvVmState* L, int idx, uint32_t def);
    int (*CheckArgTable)(qvVmState* L, int idx);
    int (*CheckArgFunction)(qvVmState* L, int idx);
    int (*CheckArgType)(qvVmState* L, int idx, int tag);
    int (*MakeRef)(qvVmState* L, int t);
    void (*FreeRef)(qvVmState* L, int t, int ref);
    void (*GetObjectIdArgForPlugin)(qvVmState* L, int idx, qvPluginObjectId* id);
    int (*NewRegistryMetatable)(qvVmState* L, const char* name);
    void (*GetRegistryMetatable)(qvVmState* L, const char* name);
    void* (*CheckUserdataType)(qvVmState* L, int idx, const char* name);
    void (*StrBufInit)(qvVmState* L, qvPluginStrBuf* B);
    char* (*StrBufPrepare)(qvPluginStrBuf* B);
    void (*StrBufAddLString)(qvPluginStrBuf* B, const char* s, size_t n);
    void (*StrBufAddString)(qvPluginStrBuf* B, const char* s);
    void (*StrBufAddValue)(qvPluginStrBuf* B);
    void (*StrBufPushResult)(qvPluginStrBuf* B);
    int (*FindStringInList)(const char* s, const char* const* list);
};
static_assert(sizeof(qvPluginVm) == 67 * sizeof(void*));

// The three built-in TrueType faces kept in the program: sans, serif, monospaced.
struct qvPluginFontData {
    const unsigned char* sans;
    const unsigned char* serif;
    const unsigned char* mono;
    size_t sansSize;
    size_t serifSize;
    size_t monoSize;
};

struct qvPluginAPI {
    uint32_t version;   // kQvRuntimeVersion
    uint32_t revision;  // kQvRuntimeRevision
    const qvPluginCLib* clib;
    const qvPluginSys* sys;
    const qvPluginDos* dos;
    const qvPluginGfx* gfx;
    const qvPluginSound* sound;
    const qvPluginReq* req;
    const qvPluginFont* font;
    const qvPluginFreeType* freetype;
    const qvPluginVm* vm;
    const qvPluginFontData* fontData;
};
static_assert(sizeof(qvPluginAPI) == 8 + 10 * sizeof(void*));
