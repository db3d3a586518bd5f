#include "runtime/plugin_api/service_table.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "engine/vm.h"
#include "platform/linux/files.h"
#include "platform/linux/paths.h"
#include "platform/linux/time_services.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/plugin_api/service_adapters.h"
#include "runtime/strings.h"

namespace qv {
namespace {

// The SDK mirrors the string buffer and the time pair under names of its own; with the same
// layouts the slots hold the run-time's functions themselves.
static_assert(sizeof(qvPluginStrBuf) == sizeof(StrBuf) &&
              offsetof(qvPluginStrBuf, level) == offsetof(StrBuf, level) &&
              offsetof(qvPluginStrBuf, L) == offsetof(StrBuf, L) &&
              offsetof(qvPluginStrBuf, buffer) == offsetof(StrBuf, buffer));
static_assert(sizeof(qvPluginTimeVal) == sizeof(qvTimeVal) &&
              offsetof(qvPluginTimeVal, microseconds) == offsetof(qvTimeVal, microseconds));

static_assert(QV_TNONE == VM_TNONE && QV_TNIL == VM_TNIL && QV_TBOOLEAN == VM_TBOOLEAN &&
              QV_TLIGHTUSERDATA == VM_TLIGHTUSERDATA && QV_TNUMBER == VM_TNUMBER &&
              QV_TSTRING == VM_TSTRING && QV_TTABLE == VM_TTABLE && QV_TFUNCTION == VM_TFUNCTION &&
              QV_TUSERDATA == VM_TUSERDATA && QV_TTHREAD == VM_TTHREAD);
static_assert(kQvRegistryIndex == VM_REGISTRYINDEX && kQvGlobalsIndex == VM_GLOBALSINDEX);

template <typename Slot, typename Fn>
Slot Mirrored(Fn* function) {
    return reinterpret_cast<Slot>(function);
}

const qvPluginCLib kCLib = {
    .malloc = &::malloc,
    .calloc = &::calloc,
    .realloc = &::realloc,
    .free = &::free,
    .strdup = &::strdup,
    .fopen = &::fopen,
    .fclose = &::fclose,
    .fseek = &::fseek,
    .ftell = &::ftell,
    .fread = &::fread,
    .fwrite = &::fwrite,
    .fgetc = &::fgetc,
    .fputc = &::fputc,
    .ferror = &::ferror,
    .feof = &::feof,
    .vfprintf = &::vfprintf,
    .vsnprintf = &::vsnprintf,
    .vprintf = &::vprintf,
    .qsort = &::qsort,
    .vsscanf = &::vsscanf,
    .strtod = &::strtod,
    .strtol = &::strtol,
    .strtoul = &::strtoul,
    .StrICmpForPlugin = &StrICmp,
    .StrNICmpForPlugin = &StrNICmp,
    .ToLowerChar = &ToLowerChar,
    .ToUpperChar = &ToUpperChar,
    .StrToLower = &ToLowerStr,
    .StrToUpper = &StrToUpper,
    .gettimeofday = &::gettimeofday,
    .time = &::time,
    .lrint = static_cast<long (*)(double)>(&::lrint),
};

const qvPluginSys kSys = {
    .CountAndClearTags = &CountAndClearTags,
    .RegisterErrorText = &RegisterErrorText,
    .SetErrorString = &SetErrorString,
    .SetErrorNumber = &SetErrorNumber,
    .FormatErrorMessage = &FormatErrorMessage,
    .TimerGetSysTime = Mirrored<decltype(qvPluginSys::TimerGetSysTime)>(&TimerGetSysTime),
    .TimerSubTime = Mirrored<decltype(qvPluginSys::TimerSubTime)>(&TimerSubTime),
    .TimerAddTime = Mirrored<decltype(qvPluginSys::TimerAddTime)>(&TimerAddTime),
    .TimerCmpTime = Mirrored<decltype(qvPluginSys::TimerCmpTime)>(&TimerCmpTime),
    .DelayMillis = &DelayMillis,
    .FormatFullDate = &FormatFullDate,
    .AllocMemForPlugin = &AllocMemForPlugin,
    .FreeMemForPlugin = &FreeMemForPlugin,
};

const qvPluginDos kDos = {
    .FileOpen = &FileOpen,
    .FileClose = &FileClose,
    .SeekFileForPlugin = &SeekFileForPlugin,
    .FileReadBuffered = &FileReadBuffered,
    .FileWrite = &FileWrite,
    .FileReadChar = &FileReadChar,
    .FileWriteChar = &FileWriteChar,
    .FileAtEnd = &FileAtEnd,
    .DeleteFilePath = &DeleteFilePath,
    .OpenFileEx = &OpenFileEx,
    .CloseFileEx = &CloseFileEx,
    .NameFromFileEx = &NameFromFileEx,
    .ExamineForPlugin = &ExamineForPlugin,
    .ExamineDirEx = &ExamineDirEx,
    .FreeDirContext = &FreeDirContext,
    .ExamineNextForPlugin = &ExamineNextForPlugin,
    .MakeDirPath = &MakeDirPath,
    .RenamePath = &RenamePath,
    .GetCurrentDirName = &GetCurrentDirName,
    .MakeTempPath = &MakeTempPath,
    .AddPart = &AddPart,
    .PathFilePart = &PathFilePart,
    .FilePartEx = &FilePartEx,
};

const qvPluginGfx kGfx = {
    .QueryPictureForPlugin = &QueryPictureForPlugin,
    .LoadPictureForPlugin = &LoadPictureForPlugin,
    .GetBitMapAttrForPlugin = &GetBitMapAttrForPlugin,
    .FreePictureForPlugin = &FreePictureForPlugin,
    .LockBrushForPlugin = &LockBrushForPlugin,
    .UnlockBitMapForPlugin = &UnlockBitMapForPlugin,
};

const qvPluginSound kSound = {
    .LoadSoundDataForPlugin = &LoadSoundDataForPlugin,
    .FreeSoundDataForPlugin = &FreeSoundDataForPlugin,
};

const qvPluginReq kReq = {
    .ShowMessageForPlugin = &ShowMessageForPlugin,
    .RequestFileForPlugin = &RequestFileForPlugin,
    .RequestPathForPlugin = &RequestPathForPlugin,
};

const qvPluginFont kFont = {.FindTrueTypeFont = &FindTrueTypeFont};

const qvPluginFreeType kFreeType = {
    .NewLibrary = &FT_Init_FreeType,
    .DoneLibrary = &FT_Done_FreeType,
    .FT_New_Face = &FT_New_Face,
    .FT_New_Memory_Face = &FT_New_Memory_Face,
    .FT_Load_Glyph = &FT_Load_Glyph,
    .FT_Render_Glyph = &FT_Render_Glyph,
    .FT_Get_Glyph = &FT_Get_Glyph,
    .FT_Done_Glyph = &FT_Done_Glyph,
    .FT_Outline_Transform = &FT_Outline_Transform,
    .FT_Outline_Translate = &FT_Outline_Translate,
    .FT_Outline_Get_Bitmap = &FT_Outline_Get_Bitmap,
    .FT_Outline_Get_CBox = &FT_Outline_Get_CBox,
    .FT_Outline_Decompose = &FT_Outline_Decompose,
    .FT_Done_Face = &FT_Done_Face,
    .FT_Get_Char_Index = &FT_Get_Char_Index,
    .FT_Get_First_Char = &FT_Get_First_Char,
    .FT_Get_Next_Char = &FT_Get_Next_Char,
    .FT_Set_Transform = &FT_Set_Transform,
    .FT_Set_Charmap = &FT_Set_Charmap,
    .FT_Set_Pixel_Sizes = &FT_Set_Pixel_Sizes,
    .FT_Set_Char_Size = &FT_Set_Char_Size,
    .FT_MulFix = &FT_MulFix,
    .FT_Vector_Transform = &FT_Vector_Transform,
    .FT_Get_Kerning = &FT_Get_Kerning,
    .FT_Get_Sfnt_Table = &FT_Get_Sfnt_Table,
    .FT_Load_Sfnt_Table = &FT_Load_Sfnt_Table,
};

const qvPluginVm kVm = {
    .VmGetTop = &VmGetTop,
    .VmSetTop = &VmSetTop,
    .VmPushValue = &VmPushValue,
    .VmRemove = &VmRemove,
    .VmInsert = &VmInsert,
    .VmReplace = &VmReplace,
    .VmIsCFunction = &VmIsCFunction,
    .VmIsNumber = &VmIsNumber,
    .VmIsString = &VmIsString,
    .VmIsUserdata = &VmIsUserdata,
    .VmType = &VmType,
    .VmEqual = &VmEqual,
    .VmRawEqual = &VmRawEqual,
    .VmCompare = &VmCompare,
    .VmToNumber = &VmToNumber,
    .VmToString = &VmToString,
    .VmStrLen = &VmStrLen,
    .VmToCFunction = &VmToCFunction,
    .VmToUserdata = &VmToUserdata,
    .VmToPointer = &VmToPointer,
    .VmPushNil = &VmPushNil,
    .VmPushNumber = &VmPushNumber,
    .VmPushLString = &VmPushLString,
    .VmPushString = &VmPushString,
    .VmPushLightUserdata = &VmPushLightUserdata,
    .VmPushCClosure = &VmPushCClosure,
    .VmGetTable = &VmGetTable,
    .VmRawGet = &VmRawGet,
    .VmRawGetI = &VmRawGetI,
    .VmNewTable = &VmNewTable,
    .VmGetFEnv = &VmGetFEnv,
    .VmSetTable = &VmSetTable,
    .VmRawSet = &VmRawSet,
    .VmRawSetI = &VmRawSetI,
    .VmSetFEnv = &VmSetFEnv,
    .VmPCall = &VmPCall,
    .VmNext = &VmNext,
    .VmConcat = &VmConcat,
    .VmPushUpvalues = &VmPushUpvalues,
    .VmGetUpvalue = &VmGetUpvalue,
    .VmSetUpvalue = &VmSetUpvalue,
    .VmNewUserdata = &VmNewUserdata,
    .VmSetMetatable = &VmSetMetatable,
    .VmGetMetatable = &VmGetMetatable,
    .RaiseErrorForPlugin = &RaiseError,
    .GetArgString = &GetArgString,
    .GetOptArgString = &GetOptArgString,
    .GetArgNumber = &GetArgNumber,
    .GetOptArgNumber = &GetOptArgNumber,
    .GetArgUInt32 = &GetArgUInt32,
    .GetOptArgUInt32 = &GetOptArgUInt32,
    .CheckArgTable = &CheckArgTable,
    .CheckArgFunction = &CheckArgFunction,
    .CheckArgType = &CheckArgType,
    .MakeRef = &MakeRef,
    .FreeRef = &FreeRef,
    .GetObjectIdArgForPlugin = &GetObjectIdArgForPlugin,
    .NewRegistryMetatable = &NewRegistryMetatable,
    .GetRegistryMetatable = &GetRegistryMetatable,
    .CheckUserdataType = &CheckUserdataType,
    .StrBufInit = Mirrored<decltype(qvPluginVm::StrBufInit)>(&StrBufInit),
    .StrBufPrepare = Mirrored<decltype(qvPluginVm::StrBufPrepare)>(&StrBufPrepare),
    .StrBufAddLString = Mirrored<decltype(qvPluginVm::StrBufAddLString)>(&StrBufAddLString),
    .StrBufAddString = Mirrored<decltype(qvPluginVm::StrBufAddString)>(&StrBufAddString),
    .StrBufAddValue = Mirrored<decltype(qvPluginVm::StrBufAddValue)>(&StrBufAddValue),
    .StrBufPushResult = Mirrored<decltype(qvPluginVm::StrBufPushResult)>(&StrBufPushResult),
    .FindStringInList = &FindStringInList,
};

}  // namespace

const qvPluginAPI* PluginAPI() {
    static const qvPluginAPI api{kQvRuntimeVersion,
                                 kQvRuntimeRevision,
                                 &kCLib,
                                 &kSys,
                                 &kDos,
                                 &kGfx,
                                 &kSound,
                                 &kReq,
                                 &kFont,
                                 &kFreeType,
                                 &kVm,
                                 &BuiltInFontData()};
    return &api;
}

}  // namespace qv
