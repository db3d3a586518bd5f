// The command handlers of the dos library and the lists they share.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/vm.h"
#include "libs/dos/dos_library.h"
#include "runtime/files.h"

namespace qv {

// File objects.
int OpenFile(qvVmState* L);
int CloseFile(qvVmState* L);
int FlushFile(qvVmState* L);
int FileLength(qvVmState* L);
int FilePos(qvVmState* L);
int Eof(qvVmState* L);
int Seek(qvVmState* L);
int SetIOMode(qvVmState* L);
int ReadChr(qvVmState* L);
int ReadShort(qvVmState* L);
int ReadInt(qvVmState* L);
int ReadFloat(qvVmState* L);
int ReadString(qvVmState* L);
int ReadLine(qvVmState* L);
int WriteChr(qvVmState* L);
int WriteShort(qvVmState* L);
int WriteInt(qvVmState* L);
int WriteFloat(qvVmState* L);
int WriteString(qvVmState* L);
int WriteLine(qvVmState* L);

// Whole files.
int FileLines(qvVmState* L);
int FileToString(qvVmState* L);
int StringToFile(qvVmState* L);

// Paths, volumes, environment and temporary names.
int Exists(qvVmState* L);
int FileSize(qvVmState* L);
int IsDirectory(qvVmState* L);
int PathPart(qvVmState* L);
int FilePart(qvVmState* L);
int FullPath(qvVmState* L);
int Rename(qvVmState* L);
int MakeDirectory(qvVmState* L);
int ChangeDirectory(qvVmState* L);
int GetCurrentDirectory(qvVmState* L);
int GetVolumeName(qvVmState* L);
int GetVolumeInfo(qvVmState* L);
int GetEnv(qvVmState* L);
int SetEnv(qvVmState* L);
int UnsetEnv(qvVmState* L);
int GetTempFileName(qvVmState* L);
int MatchPattern(qvVmState* L);

// Directories and attributes.
int OpenDirectory(qvVmState* L);
int CloseDirectory(qvVmState* L);
int NextDirectoryEntry(qvVmState* L);
int ReadDirectory(qvVmState* L);
int GetFileAttributes(qvVmState* L);
int SetFileAttributes(qvVmState* L);

// Virtual files.
int DefineVirtualFile(qvVmState* L);
int DefineVirtualFileFromString(qvVmState* L);
int UndefineVirtualStringFile(qvVmState* L);

// Lists of the library, registered with the object registry (files, directories) or kept
// for shutdown (temporary names, virtual string files).
int RegisterFileList();
int RegisterDirectoryList();
void FreeAllFiles(qvVmState* L);
void FreeAllDirectories(qvVmState* L);
// Appends a name to the temporary files deleted at shutdown; 0 or ERR_MEM.
int AddTempFile(const char* name, const char* virtualPath);
void DeleteTempFiles();
// The temporary file a linked file (its virtual path) was extracted to, or none.
const char* FindExtractedFile(const char* virtualPath);
void FreeVirtualStringFiles(qvVmState* L);

// Creates every missing directory along path (empty prefixes and a bare "NAME:" skipped);
// 0, or ERR_CREATEDIR with the whole path as the error argument (also when a file stands in
// the way).
int MakeDirectoryPath(std::string_view path);

// Whether name starts with ":::chunk" (a virtual path of a stretch of a file or memory).
bool IsChunkPath(const char* name);
// A support-layer handle closed at the end of its scope.
struct FileExCloser {
    void operator()(qvFileHandle* handle) const { CloseFileEx(handle); }
};
using FileExPtr = std::unique_ptr<qvFileHandle, FileExCloser>;
// A platform lock released at the end of its scope.
struct LockReleaser {
    void operator()(qvLock* lock) const { ReleaseLock(lock); }
};
using LockPtr = std::unique_ptr<qvLock, LockReleaser>;

// A directory scan freed at the end of its scope (script errors unwind through the walks).
struct DirScanFreer {
    void operator()(qvDirScan* scan) const { FreeDirContext(scan); }
};
using DirScanPtr = std::unique_ptr<qvDirScan, DirScanFreer>;

// The object's date as "DD-Mon-YYYY HH:MM:SS".
std::string DateText(const qvDateStamp& date);
// Pushes a new table describing an examined object: key (its name or path) set to value,
// then "type", "size" (not for directories), "flags", "time" and "comment".
void PushAttributeTable(qvVmState* L, const char* key, const char* value,
                        const qvFileAttributes& info);

}  // namespace qv
