#include "libs/dos/dos_library.h"

#include "libs/dos/commands.h"
#include "libs/dos/copy_delete.h"
#include "libs/dos/pack.h"
#include "libs/dos/patch.h"
#include "libs/dos/run.h"
#include "libs/dos/serialize.h"
#include "libs/string/checksum.h"
#include "runtime/exports.h"

namespace qv {
namespace {

// The order is the library's published command list.
constexpr qvCommandEntry kDosCommands[] = {
    {"OpenFile", OpenFile},
    {"Eof", Eof},
    {"ReadChr", ReadChr},
    {"ReadLine", ReadLine},
    {"ReadString", ReadString},
    {"Seek", Seek},
    {"WriteChr", WriteChr},
    {"WriteLine", WriteLine},
    {"WriteString", WriteString},
    {"Exists", Exists},
    {"FileSize", FileSize},
    {"PathPart", PathPart},
    {"FilePart", FilePart},
    {"MakeDirectory", MakeDirectory},
    {"GetVolumeInfo", GetVolumeInfo},
    {"DeleteFile", DeleteFile},
    {"Execute", Execute},
    {"Run", Run},
    {"ChangeDirectory", ChangeDirectory},
    {"GetVolumeName", GetVolumeName},
    {"CloseFile", CloseFile},
    {"ReadDirectory", ReadDirectory},
    {"FullPath", FullPath},
    {"CopyFile", CopyFile},
    {"Rename", Rename},
    {"IsDirectory", IsDirectory},
    {"CRC32", CRC32},
    {"WriteShort", WriteShort},
    {"WriteInt", WriteInt},
    {"WriteFloat", WriteFloat},
    {"ReadShort", ReadShort},
    {"ReadInt", ReadInt},
    {"ReadFloat", ReadFloat},
    {"FilePos", FilePos},
    {"MatchPattern", MatchPattern},
    {"FlushFile", FlushFile},
    {"SetIOMode", SetIOMode},
    {"GetFileAttributes", GetFileAttributes},
    {"SetFileAttributes", SetFileAttributes},
    {"GetTempFileName", GetTempFileName},
    {"FileLength", FileLength},
    {"CompressFile", CompressFile},
    {"DecompressFile", DecompressFile},
    {"OpenDirectory", OpenDirectory},
    {"CloseDirectory", CloseDirectory},
    {"NextDirectoryEntry", NextDirectoryEntry},
    {"WriteFunction", WriteFunction},
    {"ReadFunction", ReadFunction},
    {"DefineVirtualFile", DefineVirtualFile},
    {"ReadTable", ReadTable},
    {"WriteTable", WriteTable},
    {"GetCurrentDirectory", GetCurrentDirectory},
    {"ApplyPatch", ApplyPatch},
    {"DefineVirtualFileFromString", DefineVirtualFileFromString},
    {"UndefineVirtualStringFile", UndefineVirtualStringFile},
    {"FileToString", FileToString},
    {"StringToFile", StringToFile},
    {"GetEnv", GetEnv},
    {"SetEnv", SetEnv},
    {"UnsetEnv", UnsetEnv},
    {"MD5", MD5},
    {"FileLines", FileLines},
    {nullptr, nullptr},
};

constexpr qvConstant kDosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, QV_MODE_READWRITE},
    {"MODE_WRITE", nullptr, QV_MODE_WRITE},
    {"MODE_READ", nullptr, QV_MODE_READ},
    {"COPYFILE_STATUS", nullptr, 0},
    {"COPYFILE_OVERWRITE", nullptr, 1},
    {"COPYFILE_UNPROTECT", nullptr, 2},
    {"DELETEFILE_STATUS", nullptr, 0},
    {"DELETEFILE_UNPROTECT", nullptr, 1},
    {"IO_BUFFERED", nullptr, QV_IO_BUFFERED},
    {"IO_UNBUFFERED", nullptr, QV_IO_UNBUFFERED},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"FILEATTR_NORMAL", nullptr, 65536},
    {"FILEATTR_READ_USR", nullptr, 1},
    {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, 8},
    {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024},
    {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096},
    {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {nullptr, nullptr, 0},
};

}  // namespace
}  // namespace qv

int RegisterDosLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kDosCommands, 0);
    RegisterConstants(L, qv::kDosConstants, 0);
    if (int code = qv::RegisterFileList()) return code;
    if (int code = qv::RegisterDirectoryList()) return code;
    return RegisterCommandTable(qv::kDosCommands, "dos");
}

void FreeDosObjects(qvVmState* L) {
    qv::FreeAllFiles(L);
    qv::DeleteTempFiles();
    qv::FreeAllDirectories(L);
    qv::FreeVirtualStringFiles(L);
}
