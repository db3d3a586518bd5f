// Path, volume, environment and temporary-name commands, and the wildcard command.
#include <cstring>
#include <string>
#include <string_view>

#include "libs/dos/commands.h"
#include "libs/dos/wildcard.h"
#include "platform/linux/blocks.h"
#include "platform/linux/environment.h"
#include "platform/linux/lists.h"
#include "platform/linux/volumes.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"

// A temporary name of the library, deleted at shutdown when the file then exists.
struct qvTempFileEntry {
    qvTempFileEntry* next;
    char* name;
    char* virtualPath;  // the linked file it was extracted from, or none
};

namespace qv {
namespace {

qvTempFileEntry* tempFiles = nullptr;

char* CopyOf(const char* text) {
    if (text == nullptr) return nullptr;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(AllocMemBlock(n, 0));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

void FreeTempEntry(qvTempFileEntry* entry) {
    FreeMemBlock(entry->name);
    FreeMemBlock(entry->virtualPath);
    FreeMemBlock(entry);
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// The kind of the object a name opens through the support layer; false when it cannot be
// opened or examined.
bool Examine(const char* name, qvFileAttributes* info) {
    FileExPtr handle(OpenFileEx(name, QV_LOCK_SHARED));
    return handle && ExamineEx(handle.get(), info);
}

// Whether a prefix of MakeDirectory's walk is a bare volume "NAME:", which must exist: a
// volume is never made.
bool IsBareVolume(std::string_view prefix) {
    return prefix.back() == ':' && prefix.find_first_of("/\\") == std::string_view::npos;
}

// Makes one level of the walk exist as a directory (locked directly: the support layer's
// handles hold no more than 1024 bytes of name), or only checks that it does.
bool EnsureDirectory(const std::string& prefix, bool mayCreate) {
    qvFileAttributes info;
    LockPtr lock(LockPath(prefix.c_str(), QV_LOCK_SHARED));
    if (lock) return ExamineObjectInfo(lock.get(), &info) && info.type == QV_DOSTYPE_DIRECTORY;
    return mayCreate && MakeDirPath(prefix.c_str(), nullptr) == 0;
}

// The part of path up to and including its last separator ("/", "\" or ":"); "/" at the
// very start is kept but is no separator.
std::string_view PathPartOf(std::string_view path) {
    size_t lead = path.find_first_not_of('/');
    if (lead == std::string_view::npos) return path;
    size_t last = path.find_last_of("/\\:");
    return last == std::string_view::npos || last < lead ? path.substr(0, lead)
                                                         : path.substr(0, last + 1);
}

}  // namespace

bool IsChunkPath(const char* name) {
    return std::string_view(name).starts_with(":::chunk");
}

int AddTempFile(const char* name, const char* virtualPath) {
    auto* entry = static_cast<qvTempFileEntry*>(AllocMemBlock(sizeof(qvTempFileEntry), 1));
    if (entry == nullptr) return ERR_MEM;
    entry->name = CopyOf(name);
    entry->virtualPath = CopyOf(virtualPath);
    if (entry->name == nullptr || (virtualPath != nullptr && entry->virtualPath == nullptr)) {
        FreeTempEntry(entry);
        return ERR_MEM;
    }
    *ListEnd(&tempFiles) = entry;
    return 0;
}

const char* FindExtractedFile(const char* virtualPath) {
    for (const qvTempFileEntry* e = tempFiles; e != nullptr; e = e->next) {
        if (e->virtualPath != nullptr && std::strcmp(e->virtualPath, virtualPath) == 0) {
            return e->name;
        }
    }
    return nullptr;
}

void DeleteTempFiles() {
    DrainList(&tempFiles, [](qvTempFileEntry* entry) {
        DeleteFilePath(entry->name);
        FreeTempEntry(entry);
    });
}

int Exists(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    bool exists = false;
    if (name[0] != '\0') {
        // A virtual path names no lock; whether it opens is the answer.
        if (IsChunkPath(name)) {
            exists = FilePtr(FileOpen(name, QV_FILE_READ)) != nullptr;
        } else {
            exists = FileExPtr(OpenFileEx(name, QV_LOCK_SHARED)) != nullptr;
        }
    }
    VmPushNumber(L, exists ? 1 : 0);
    return 1;
}

int FileSize(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    qvFileAttributes info;
    bool known = name[0] != '\0' && Examine(name, &info);
    VmPushNumber(L, known ? static_cast<double>(info.size) : -1);
    return 1;
}

int IsDirectory(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    FileExPtr handle(OpenFileEx(name, QV_LOCK_SHARED));
    if (!handle) return ErrorWithText(ERR_LOCK2, name);
    qvFileAttributes info;
    if (!ExamineEx(handle.get(), &info)) return ERR_WRONGUSAGE;
    VmPushNumber(L, info.type == QV_DOSTYPE_DIRECTORY ? 1 : 0);
    return 1;
}

int FilePart(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length;
    const char* path = GetArgString(L, 1, &length);
    if (length < 2) {
        VmPushValue(L, 1);
    } else {
        VmPushString(L, FilePartEx(path));
    }
    return 1;
}

int PathPart(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length;
    const char* path = GetArgString(L, 1, &length);
    if (IsChunkPath(path)) return ERR_WRONGUSAGE;
    std::string_view part = PathPartOf(std::string_view(path, length));
    VmPushLString(L, part.data(), part.size());
    return 1;
}

int FullPath(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    size_t pathLength, nameLength;
    const char* path = GetArgString(L, 1, &pathLength);
    const char* name = GetArgString(L, 2, &nameLength);
    size_t size = pathLength + nameLength + 2;
    BlockPtr<char> joined(static_cast<char*>(AllocMemBlock(size, 0)));
    if (!joined) return ERR_MEM;
    std::memcpy(joined.get(), path, pathLength + 1);
    AddPart(joined.get(), name, size);
    VmPushString(L, joined.get());
    return 1;
}

int Rename(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    size_t oldLength;
    const char* oldName = GetArgString(L, 1, &oldLength);
    const char* newName = GetArgString(L, 2, nullptr);
    if (oldName[0] == '\0' || newName[0] == '\0' || IsChunkPath(oldName) || IsChunkPath(newName))
        return ERR_WRONGUSAGE;
    // Only the new name's file part counts: a rename never moves an object elsewhere.
    std::string target(PathPartOf(std::string_view(oldName, oldLength)));
    target += FilePartEx(newName);
    SetErrorString(oldName);
    return RenamePath(oldName, target.c_str()) ? 0 : ERR_RENAME;
}

int MakeDirectoryPath(std::string_view path) {
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) continue;
        std::string_view prefix = path.substr(0, i);
        if (prefix.empty()) continue;  // the root of an absolute path
        if (!EnsureDirectory(std::string(prefix), !IsBareVolume(prefix)))
            return ErrorWithText(ERR_CREATEDIR, std::string(path).c_str());
    }
    return 0;
}

int MakeDirectory(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length;
    const char* path = GetArgString(L, 1, &length);
    if (length == 0) return ERR_WRONGUSAGE;
    return MakeDirectoryPath(std::string_view(path, length));
}

int ChangeDirectory(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    FreeMemBlock(ChangeDirPath(GetArgString(L, 1, nullptr)));
    return 0;
}

int GetCurrentDirectory(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    char name[kPathBufferSize];
    VmPushString(L, GetCurrentDirName(name, sizeof name) ? name : "");
    return 1;
}

int GetVolumeName(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* path = GetArgString(L, 1, nullptr);
    if (path[0] == '\0') return ERR_WRONGUSAGE;
    char name[256];
    SetErrorString(path);
    if (int code = QueryVolumeName(path, name, sizeof name)) return code;
    VmPushString(L, name);
    return 1;
}

int GetVolumeInfo(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const char* path = GetArgString(L, 1, nullptr);
    int32_t kind = GetOptIntArg(L, 2, nullptr);
    if (path[0] == '\0') return ERR_WRONGUSAGE;
    int64_t freeBytes, usedBytes;
    SetErrorString(path);
    if (int code = QueryVolumeInfo(path, &freeBytes, &usedBytes)) return code;
    VmPushNumber(L, static_cast<double>(kind != 0 ? freeBytes : usedBytes));
    return 1;
}

int GetEnv(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    BlockPtr<char> value(GetEnvVar(GetArgString(L, 1, nullptr)));
    VmPushString(L, value ? value.get() : "");
    VmPushNumber(L, value ? 1 : 0);
    return 2;
}

int SetEnv(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const char* name = GetArgString(L, 1, nullptr);
    const char* value = GetArgString(L, 2, nullptr);
    SetErrorString(name);
    return SetEnvVar(name, value);
}

int UnsetEnv(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetArgString(L, 1, nullptr);
    SetErrorString(name);
    return DeleteEnvVar(name);
}

int GetTempFileName(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    char name[kPathBufferSize];
    if (int code = MakeTempPath(name)) return code;
    if (int code = AddTempFile(name, nullptr)) return code;
    VmPushString(L, name);
    return 1;
}

int MatchPattern(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    size_t stringLength, listLength;
    const char* string = GetArgString(L, 1, &stringLength);
    const char* list = GetArgString(L, 2, &listLength);
    VmPushNumber(L, MatchPatternList(std::string_view(list, listLength),
                                     std::string_view(string, stringLength)));
    return 1;
}

}  // namespace qv
