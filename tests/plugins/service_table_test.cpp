// The plugin service table: every slot in its place, the built-in fonts, and the adapters
// (tag lists, seeks, pictures, brush locks, sample data, requesters, ids).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/requester.h"
#include "platform/linux/testing.h"
#include "platform/linux/time_services.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/plugin_api/service_adapters.h"
#include "runtime/plugin_api/service_table.h"
#include "runtime/strings.h"
#include "tests/plugins/plugin_test_support.h"

namespace {

using qv::testing::Bytes;
using qv::testing::ReadBytes;
using qv::testing::ScopedEnv;
using qv::testing::ScratchDir;

static_assert(kQvRuntimeVersion == 5 && kQvRuntimeRevision == 0);

struct Slot {
    const char* name;
    const void* address;
};
#define SLOT(function)                                        \
    Slot {                                                    \
#function, reinterpret_cast < const void*>(&function) \
    }

// Compares a sub-table slot by slot with the functions its names say, in order.
template <typename Table, size_t N>
void ExpectSlots(const Table* table, const Slot (&expected)[N]) {
    ASSERT_EQ(sizeof(Table), N * sizeof(void*));
    auto* slots = reinterpret_cast<const void* const*>(table);
    for (size_t i = 0; i < N; ++i) {
        EXPECT_EQ(slots[i], expected[i].address) << "slot " << i << " " << expected[i].name;
    }
}

TEST(ServiceTable, EverySlotHoldsTheFunctionItsNameSays) {
    const qvPluginAPI* api = qv::PluginAPI();
    EXPECT_EQ(api->version, 5u);
    EXPECT_EQ(api->revision, 0u);
    const Slot clib[] = {
        SLOT(malloc),
        SLOT(calloc),
        SLOT(realloc),
        SLOT(free),
        SLOT(strdup),
        SLOT(fopen),
        SLOT(fclose),
        SLOT(fseek),
        SLOT(ftell),
        SLOT(fread),
        SLOT(fwrite),
        SLOT(fgetc),
        SLOT(fputc),
        SLOT(ferror),
        SLOT(feof),
        SLOT(vfprintf),
        SLOT(vsnprintf),
        SLOT(vprintf),
        SLOT(qsort),
        SLOT(vsscanf),
        SLOT(strtod),
        SLOT(strtol),
        SLOT(strtoul),
        SLOT(StrICmp),
        SLOT(StrNICmp),
        SLOT(ToLowerChar),
        SLOT(ToUpperChar),
        SLOT(ToLowerStr),
        SLOT(StrToUpper),
        SLOT(gettimeofday),
        SLOT(time),
        Slot{"lrint", reinterpret_cast<const void*>(static_cast<long (*)(double)>(&::lrint))}};
    ExpectSlots(api->clib, clib);
    const Slot sys[] = {SLOT(CountAndClearTags), SLOT(RegisterErrorText),  SLOT(SetErrorString),
                        SLOT(SetErrorNumber),    SLOT(FormatErrorMessage), SLOT(TimerGetSysTime),
                        SLOT(TimerSubTime),      SLOT(TimerAddTime),       SLOT(TimerCmpTime),
                        SLOT(DelayMillis),       SLOT(FormatFullDate),     SLOT(AllocMemForPlugin),
                        SLOT(FreeMemForPlugin)};
    ExpectSlots(api->sys, sys);
    const Slot dos[] = {SLOT(FileOpen),          SLOT(FileClose),
                        SLOT(SeekFileForPlugin), SLOT(FileReadBuffered),
                        SLOT(FileWrite),         SLOT(FileReadChar),
                        SLOT(FileWriteChar),     SLOT(FileAtEnd),
                        SLOT(DeleteFilePath),    SLOT(OpenFileEx),
                        SLOT(CloseFileEx),       SLOT(NameFromFileEx),
                        SLOT(ExamineForPlugin),  SLOT(ExamineDirEx),
                        SLOT(FreeDirContext),    SLOT(ExamineNextForPlugin),
                        SLOT(MakeDirPath),       SLOT(RenamePath),
                        SLOT(GetCurrentDirName), SLOT(MakeTempPath),
                        SLOT(AddPart),           SLOT(PathFilePart),
                        SLOT(FilePartEx)};
    ExpectSlots(api->dos, dos);
    const Slot gfx[] = {SLOT(QueryPictureForPlugin),  SLOT(LoadPictureForPlugin),
                        SLOT(GetBitMapAttrForPlugin), SLOT(FreePictureForPlugin),
                        SLOT(LockBrushForPlugin),     SLOT(UnlockBitMapForPlugin)};
    ExpectSlots(api->gfx, gfx);
    const Slot sound[] = {SLOT(LoadSoundDataForPlugin), SLOT(FreeSoundDataForPlugin)};
    ExpectSlots(api->sound, sound);
    const Slot req[] = {SLOT(ShowMessageForPlugin), SLOT(RequestFileForPlugin),
                        SLOT(RequestPathForPlugin)};
    ExpectSlots(api->req, req);
    const Slot font[] = {SLOT(FindTrueTypeFont)};
    ExpectSlots(api->font, font);
    const Slot freetype[] = {SLOT(FT_Init_FreeType),      SLOT(FT_Done_FreeType),
                             SLOT(FT_New_Face),           SLOT(FT_New_Memory_Face),
                             SLOT(FT_Load_Glyph),         SLOT(FT_Render_Glyph),
                             SLOT(FT_Get_Glyph),          SLOT(FT_Done_Glyph),
                             SLOT(FT_Outline_Transform),  SLOT(FT_Outline_Translate),
                             SLOT(FT_Outline_Get_Bitmap), SLOT(FT_Outline_Get_CBox),
                             SLOT(FT_Outline_Decompose),  SLOT(FT_Done_Face),
                             SLOT(FT_Get_Char_Index),     SLOT(FT_Get_First_Char),
                             SLOT(FT_Get_Next_Char),      SLOT(FT_Set_Transform),
                             SLOT(FT_Set_Charmap),        SLOT(FT_Set_Pixel_Sizes),
                             SLOT(FT_Set_Char_Size),      SLOT(FT_MulFix),
                             SLOT(FT_Vector_Transform),   SLOT(FT_Get_Kerning),
                             SLOT(FT_Get_Sfnt_Table),     SLOT(FT_Load_Sfnt_Table)};
    ExpectSlots(api->freetype, freetype);
    const Slot vm[] = {SLOT(VmGetTop),
                       SLOT(VmSetTop),
                       SLOT(VmPushValue),
                       SLOT(VmRemove),
                       SLOT(VmInsert),
                       SLOT(VmReplace),
                       SLOT(VmIsCFunction),
                       SLOT(VmIsNumber),
                       SLOT(VmIsString),
                       SLOT(VmIsUserdata),
                       SLOT(VmType),
                       SLOT(VmEqual),
                       SLOT(VmRawEqual),
                       SLOT(VmCompare),
                       SLOT(VmToNumber),
                       SLOT(VmToString),
                       SLOT(VmStrLen),
                       SLOT(VmToCFunction),
                       SLOT(VmToUserdata),
                       SLOT(VmToPointer),
                       SLOT(VmPushNil),
                       SLOT(VmPushNumber),
                       SLOT(VmPushLString),
                       SLOT(VmPushString),
                       SLOT(VmPushLightUserdata),
                       SLOT(VmPushCClosure),
                       SLOT(VmGetTable),
                       SLOT(VmRawGet),
                       SLOT(VmRawGetI),
                       SLOT(VmNewTable),
                       SLOT(VmGetFEnv),
                       SLOT(VmSetTable),
                       SLOT(VmRawSet),
                       SLOT(VmRawSetI),
                       SLOT(VmSetFEnv),
                       SLOT(VmPCall),
                       SLOT(VmNext),
                       SLOT(VmConcat),
                       SLOT(VmPushUpvalues),
                       SLOT(VmGetUpvalue),
                       SLOT(VmSetUpvalue),
                       SLOT(VmNewUserdata),
                       SLOT(VmSetMetatable),
                       SLOT(VmGetMetatable),
                       SLOT(RaiseError),
                       SLOT(GetArgString),
                       SLOT(GetOptArgString),
                       SLOT(GetArgNumber),
                       SLOT(GetOptArgNumber),
                       SLOT(GetArgUInt32),
                       SLOT(GetOptArgUInt32),
                       SLOT(CheckArgTable),
                       SLOT(CheckArgFunction),
                       SLOT(CheckArgType),
                       SLOT(MakeRef),
                       SLOT(FreeRef),
                       SLOT(GetObjectIdArgForPlugin),
                       SLOT(NewRegistryMetatable),
                       SLOT(GetRegistryMetatable),
                       SLOT(CheckUserdataType),
                       SLOT(StrBufInit),
                       SLOT(StrBufPrepare),
                       SLOT(StrBufAddLString),
                       SLOT(StrBufAddString),
                       SLOT(StrBufAddValue),
                       SLOT(StrBufPushResult),
                       SLOT(FindStringInList)};
    ExpectSlots(api->vm, vm);
    EXPECT_EQ(api->fontData, &qv::BuiltInFontData());
}

// Each face is its Debian file byte for byte, and each slot gives its own face's size.
TEST(ServiceTable, BuiltInFontsPairEachFaceWithItsSize) {
    const qvPluginFontData& fonts = *qv::PluginAPI()->fontData;
    struct Face {
        const char* file;
        const unsigned char* data;
        size_t size;
    };
    const Face faces[] = {{"Vera.ttf", fonts.sans, fonts.sansSize},
                          {"VeraSe.ttf", fonts.serif, fonts.serifSize},
                          {"VeraMono.ttf", fonts.mono, fonts.monoSize}};
    for (const Face& face : faces) {
        SCOPED_TRACE(face.file);
        Bytes file = ReadBytes(std::string(QV_FONT_DIR) + "/" + face.file);
        ASSERT_EQ(face.size, file.size());
        EXPECT_EQ(std::memcmp(face.data, file.data(), file.size()), 0);
    }
}

TEST(ServiceTable, BuiltInFontsOpenAsVirtualFiles) {
    ASSERT_EQ(qv::RegisterBuiltInFonts(), 0);
    ASSERT_EQ(qv::RegisterBuiltInFonts(), 0);
    for (auto [name, size] : {std::pair{":::default_sans", 65932},
                              {":::default_serif", 60280},
                              {":::default_mono", 49224}}) {
        qv::FilePtr file(FileOpen(name, QV_FILE_READ));
        ASSERT_NE(file, nullptr) << name;
        FileSeek(file.get(), 0, QV_SEEK_END);
        EXPECT_EQ(FileSeek(file.get(), 0, QV_SEEK_BEGINNING), size) << name;
    }
    qv::UnregisterBuiltInFonts();
    EXPECT_EQ(FileOpen(":::default_serif", QV_FILE_READ), nullptr);
}

TEST(ServiceTable, CountAndClearTagsClearsTag25) {
    std::vector<qvPluginTag> none = {{0, 7}};
    EXPECT_EQ(CountAndClearTags(none.data()), 0);
    EXPECT_EQ(CountAndClearTags(nullptr), 0);
    std::vector<qvPluginTag> tags = {{25, 1}, {3, 9}, {25, 0xFFFF}, {24, 5}, {0, 0}, {25, 4}};
    EXPECT_EQ(CountAndClearTags(tags.data()), 2);
    EXPECT_EQ(tags[0].value, 0u);
    EXPECT_EQ(tags[1].value, 9u);
    EXPECT_EQ(tags[2].value, 0u);
    EXPECT_EQ(tags[3].value, 5u);
    EXPECT_EQ(tags[5].value, 4u);  // after the end
}

TEST(ServiceTable, CaseSlotsUseTheIsoTables) {
    EXPECT_EQ(ToLowerChar('A'), 'a');
    EXPECT_EQ(ToLowerChar(0xC9), 0xE9);
    EXPECT_EQ(ToUpperChar(0xE9), 0xC9);
    EXPECT_EQ(ToUpperChar(0xF7), 0xF7);
    EXPECT_EQ(ToUpperChar(-1), -1);
    char text[] =
        "Gr\xfc\xdf"
        "e";
    StrToUpper(text);
    EXPECT_STREQ(text,
                 "GR\xdc\xdf"
                 "E");
}

TEST(ServiceTable, PluginMemoryIsTheRunTimesAndClearsOnRequest) {
    size_t before = qv::GetMemoryStats().liveBlocks;
    auto* block = static_cast<unsigned char*>(AllocMemForPlugin(64, 1));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before + 1);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
    FreeMemForPlugin(block);
    EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before);
    qv::AllocationFault fault(1, false);
    EXPECT_EQ(AllocMemForPlugin(8, 0), nullptr);
}

// Offsets are 32-bit words: negative from the current position and from the end, up to
// 4 GiB from the beginning.
TEST(ServiceTable, SeekWordsAreSignedExceptFromTheBeginning) {
    ScratchDir dir;
    std::string path = dir.Write("sixteen", qv::testing::ToBytes("0123456789abcdef"));
    qv::FilePtr file(FileOpen(path.c_str(), QV_FILE_READ));
    ASSERT_NE(file, nullptr);
    struct Case {
        int64_t start;
        uint32_t word;
        int mode;
        int64_t previous;
        int64_t position;
    };
    const Case cases[] = {
        {8, static_cast<uint32_t>(-4), QV_SEEK_CURRENT, 8, 4},  {8, 3, QV_SEEK_CURRENT, 8, 11},
        {8, static_cast<uint32_t>(-4), QV_SEEK_END, 8, 12},     {8, 5, QV_SEEK_BEGINNING, 8, 5},
        {2, static_cast<uint32_t>(-4), QV_SEEK_CURRENT, -1, 2},  // before the start
    };
    for (const Case& c : cases) {
        FileSeek(file.get(), c.start, QV_SEEK_BEGINNING);
        EXPECT_EQ(SeekFileForPlugin(file.get(), c.word, c.mode), c.previous);
        EXPECT_EQ(FileSeek(file.get(), 0, QV_SEEK_CURRENT), c.position);
    }

    constexpr int64_t kThreeGiB = int64_t{3} << 30;
    std::string sparse = dir / "sparse";
    int fd = open(sparse.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "Z", 1, kThreeGiB), 1);
    close(fd);
    qv::FilePtr big(FileOpen(sparse.c_str(), QV_FILE_READ));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(SeekFileForPlugin(big.get(), uint32_t{3} << 30, QV_SEEK_BEGINNING), 0);
    EXPECT_EQ(FileReadChar(big.get()), 'Z');
}

TEST(ServiceTable, ExamineCopiesSizeDateAndName) {
    ScratchDir dir;
    dir.Write("a.bin", Bytes(5, 1));
    qvFileHandle* handle = OpenFileEx((dir / "a.bin").c_str(), QV_LOCK_SHARED);
    ASSERT_NE(handle, nullptr);
    qvPluginFileInfo info{};
    ASSERT_EQ(ExamineForPlugin(handle, &info), 1);
    EXPECT_EQ(info.type, 0);
    EXPECT_EQ(info.size, 5);
    EXPECT_STREQ(info.name, "a.bin");
    EXPECT_GT(info.date.days, 0);
    CloseFileEx(handle);

    handle = OpenFileEx(dir.path().c_str(), QV_LOCK_SHARED);
    ASSERT_NE(handle, nullptr);
    qvDirScan* scan = nullptr;
    ASSERT_EQ(ExamineDirEx(handle, &scan), 0);
    ASSERT_EQ(ExamineNextForPlugin(handle, scan, &info), 1);
    EXPECT_STREQ(info.name, "a.bin");
    EXPECT_EQ(ExamineNextForPlugin(handle, scan, &info), 0);
    FreeDirContext(scan);
    CloseFileEx(handle);
}

// The plugins' picture form moves alpha to the lowest byte: 0xFF for an opaque picture.
TEST(ServiceTable, PicturesReachPluginsAsRgba) {
    ScratchDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        std::vector<uint32_t> pixels = qv::testing::PatternPixels(5, 3, alpha);
        std::string path = dir / "picture.png";
        ASSERT_TRUE(qv::testing::WritePng(path, 5, 3, pixels, alpha));
        int32_t width = 0, height = 0, hasAlpha = -1, depth = 0;
        ASSERT_EQ(QueryPictureForPlugin(path.c_str(), &width, &height, &depth), 1);
        EXPECT_EQ(depth, alpha ? 32 : 24);
        void* picture = LoadPictureForPlugin(path.c_str(), &width, &height, &hasAlpha);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(width, 5);
        EXPECT_EQ(height, 3);
        EXPECT_EQ(hasAlpha, alpha ? 1 : 0);
        auto* rgba = static_cast<uint32_t*>(GetBitMapAttrForPlugin(picture, kQvBitMapAttrPixels));
        ASSERT_NE(rgba, nullptr);
        EXPECT_EQ(GetBitMapAttrForPlugin(picture, 0), nullptr);
        for (size_t i = 0; i < pixels.size(); ++i) {
            EXPECT_EQ(rgba[i], (pixels[i] << 8) | (pixels[i] >> 24)) << i;
            if (!alpha) {
                EXPECT_EQ(rgba[i] & 0xFF, 0xFFu);
            }
        }
        FreePictureForPlugin(picture);
    }
    int32_t width, height, hasAlpha;
    std::string text = dir.Write("text.png", qv::testing::ToBytes("no picture"));
    EXPECT_EQ(LoadPictureForPlugin(text.c_str(), &width, &height, &hasAlpha), nullptr);
}

// The seams answer "not found" until their libraries install them.
class Seams : public qv::testing::RuntimeTest {
protected:
    void TearDown() override {
        qv::ServiceHooks() = {};
        RuntimeTest::TearDown();
    }
};

qvDisplayBitMap* fakeBrushBitmap = nullptr;
qvPlaneBitMap* fakeBrushMask = nullptr;

TEST_F(Seams, BrushLocksNeedTheBrushLibrary) {
    qvPluginObjectId id{1, nullptr};
    qvPluginBrushLock record{};
    EXPECT_EQ(LockBrushForPlugin(&id, 0, &record), nullptr);

    qvDisplayBitMap* bitmap = fakeBrushBitmap = AllocDisplayBitMap(6, 4);
    qvPlaneBitMap* mask = fakeBrushMask = AllocMaskBitMap(bitmap, 6, 4, 1);
    qv::ServiceHooks().findBrush = [](const qvObjectId& brush, qv::BrushView* out) {
        if (brush.number != 7) return false;
        *out = {fakeBrushBitmap, fakeBrushMask, 6, 4};
        return true;
    };
    EXPECT_EQ(LockBrushForPlugin(&id, 0, &record), nullptr);
    id.number = 7;
    qv::platform::testing::ResetLockBalance();
    void* lock = LockBrushForPlugin(&id, 0, &record);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(record.base, bitmap->pixels);
    EXPECT_EQ(record.bytesPerRow, uintptr_t(bitmap->rowLength * bitmap->bytesPerPixel));
    EXPECT_EQ(record.bitmap, bitmap);
    EXPECT_EQ(record.bitsPerPixel, QueryBitMapAttr(bitmap, 21));
    EXPECT_EQ(record.mask, mask);
    EXPECT_EQ(record.maskPlane, mask->plane);
    EXPECT_EQ(record.maskBytesPerRow, uintptr_t(mask->bytesPerRow));
    EXPECT_EQ(record.width, 6u);
    EXPECT_EQ(record.height, 4u);
    EXPECT_EQ(record.pixelFormat, bitmap->format);
    EXPECT_EQ(qv::platform::testing::LockBalance(), 1);
    UnlockBitMapForPlugin(lock);
    EXPECT_EQ(qv::platform::testing::LockBalance(), 0);
    FreePlaneBitMap(mask);
    FreeDisplayBitMap(bitmap);
}

struct FakeSample {
    std::vector<uint8_t> data;
    void* adopted = nullptr;
};
FakeSample fakeSample;
uint32_t fakeFormat = 0;

TEST_F(Seams, SampleDataDescribeTheFormatAndCopyUnlessBorrowed) {
    qvPluginObjectId id{2, nullptr};
    qvPluginSoundData data{};
    EXPECT_EQ(LoadSoundDataForPlugin(&id, 0, 0, &data), nullptr);
    fakeSample = {{1, 2, 3, 4, 5, 6, 7, 8}, nullptr};
    qv::ServiceHooks().findSample = [](const qvObjectId&, qv::SampleView* out) {
        *out = {&fakeSample, fakeSample.data.data(), 8,    2, fakeFormat,
                22050,       fakeFormat == 3,        false};
        return true;
    };
    qv::ServiceHooks().adoptSampleData = [](void* sample, void* block, size_t) {
        static_cast<FakeSample*>(sample)->adopted = block;
    };
    struct Case {
        uint32_t format;
        uintptr_t channels;
        uintptr_t bits;
        uintptr_t flags;
    };
    const Case cases[] = {{0, 1, 8, 0},
                          {1, 2, 8, 0},
                          {2, 1, 8, QV_SOUNDDATA_EXTENDED},
                          {3, 2, 8, QV_SOUNDDATA_EXTENDED | QV_SOUNDDATA_LOOPS},
                          {4, 1, 16, QV_SOUNDDATA_EXTENDED},
                          {5, 2, 16, QV_SOUNDDATA_EXTENDED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        fakeFormat = c.format;
        void* handle = LoadSoundDataForPlugin(&id, 1, 0, &data);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(data.data, fakeSample.data.data());
        EXPECT_EQ(data.size, 8u);
        EXPECT_EQ(data.frames, 2u);
        EXPECT_EQ(data.rate, 22050u);
        EXPECT_EQ(data.channels, c.channels);
        EXPECT_EQ(data.bits, c.bits);
        EXPECT_EQ(data.flags, c.flags);
        FreeSoundDataForPlugin(handle);
        EXPECT_EQ(fakeSample.adopted, nullptr);
    }
    void* handle = LoadSoundDataForPlugin(&id, 0, 0, &data);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(data.data, fakeSample.data.data());
    EXPECT_EQ(std::memcmp(data.data, fakeSample.data.data(), 8), 0);
    FreeSoundDataForPlugin(handle);
    EXPECT_EQ(fakeSample.adopted, data.data);
    FreeMemBlock(fakeSample.adopted);
}

TEST_F(Seams, TrueTypeFontsAreNotFoundWithoutTheTextLibrary) {
    char path[256] = "";
    EXPECT_EQ(FindTrueTypeFont("Vera", path, sizeof path), 0);
    qv::ServiceHooks().findTrueTypeFont = [](const char*, char* out, size_t size) {
        std::snprintf(out, size, "FONTS:vera.ttf");
        return 1;
    };
    EXPECT_EQ(FindTrueTypeFont("Vera", path, sizeof path), 1);
    EXPECT_STREQ(path, "FONTS:vera.ttf");
}

TEST(ServiceTable, RequestersJoinDrawerAndFile) {
    ScopedEnv answers("QV_REQUESTER_ANSWERS", "/data/pics/a.png;;/data/pics;2");
    qv::ResetRequesterAnswers();
    qv::testing::FdCapture err(2);
    char path[kPathBufferSize] = "";
    EXPECT_EQ(RequestFileForPlugin("Pick", path), 1);
    EXPECT_STREQ(path, "/data/pics/a.png");
    EXPECT_EQ(RequestFileForPlugin("Pick", path), 0);
    EXPECT_EQ(RequestPathForPlugin("Drawer", path), 1);
    EXPECT_STREQ(path, "/data/pics");
    EXPECT_EQ(ShowMessageForPlugin("Title", "Text", "Yes|No|Cancel"), 2);
    EXPECT_EQ(RequestPathForPlugin("Drawer", path), 0);
    EXPECT_EQ(err.Text(),
              "[Pick] file requester (#?)\n[Pick] file requester (#?)\n[Drawer] path requester\n"
              "[Title] Text\n[Drawer] path requester\n");
    qv::ResetRequesterAnswers();
}

int ReadIdArguments(qvVmState* L) {
    qvPluginObjectId ids[2];
    GetObjectIdArgForPlugin(L, 1, &ids[0]);
    GetObjectIdArgForPlugin(L, 2, &ids[1]);
    VmPushNumber(L, ids[0].number);
    VmPushLightUserdata(L, ids[1].handle);
    return 2;
}

TEST_F(Seams, ObjectIdsKeepNumberAndHandle) {
    int marker = 0;
    VmPushCClosure(L, ReadIdArguments, 0);
    VmPushNumber(L, 12);
    VmPushLightUserdata(L, &marker);
    ASSERT_EQ(VmPCall(L, 2, 2, 0), 0);
    EXPECT_EQ(VmToNumber(L, 1), 12);
    EXPECT_EQ(VmToUserdata(L, 2), &marker);
}

}  // namespace
