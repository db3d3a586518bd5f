#include "libs/dos/copy_delete.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/convert.h"
#include "libs/dos/callbacks.h"
#include "libs/dos/commands.h"
#include "libs/dos/wildcard.h"
#include "platform/linux/blocks.h"
#include "platform/linux/file_attributes.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"

namespace qv {
namespace {

constexpr int64_t kBlock = 16384;
enum : int { kCopyStatus = 0, kCopyOverwrite = 1, kCopyUnprotect = 2 };
enum : int { kDeleteStatus = 0, kDeleteUnprotect = 1 };
constexpr uint32_t kWritableAndDeletable = QV_FILEATTR_WRITE_USR | QV_FILEATTR_DELETE_USR;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string Join(std::string_view directory, std::string_view name) {
    std::string out(directory);
    if (!out.empty() && !IsSeparator(out.back()) && out.back() != ':') out += '/';
    out += name;
    return out;
}

// The walks lock names themselves: the support layer's handles hold 1024-byte names, and the
// walks' paths may be as long as the system allows. Virtual files are examined through it.
LockPtr Lock(const std::string& name) {
    return LockPtr(LockPath(name.c_str(), QV_LOCK_SHARED));
}

bool Examine(const std::string& name, qvFileAttributes* info) {
    if (IsChunkPath(name.c_str())) {
        FileExPtr handle(OpenFileEx(name.c_str(), QV_LOCK_SHARED));
        return handle && ExamineEx(handle.get(), info);
    }
    LockPtr lock = Lock(name);
    return lock && ExamineObjectInfo(lock.get(), info);
}

bool Exists(const std::string& name) {
    return LinkKind(name.c_str()) != QV_LINK_NONE || static_cast<bool>(Lock(name));
}

// The full name of a locked object.
bool FullName(const qvLock* lock, std::string* out) {
    std::string name(PATH_MAX + 1, '\0');
    if (!LockToPath(lock, name.data(), name.size())) return false;
    name.resize(std::strlen(name.c_str()));
    *out = std::move(name);
    return true;
}

// A scan of a directory: its lock and context.
struct Scan {
    LockPtr lock;
    DirScanPtr context;

    int Start(const std::string& directory) {
        lock = Lock(directory);
        qvDirScan* scan = nullptr;
        int code = lock ? OpenDirScan(lock.get(), &scan) : ERR_LOCK2;
        context.reset(scan);
        if (code != 0) SetErrorString(directory.c_str());
        return code;
    }
    bool Next(qvFileAttributes* entry) { return ExamineDirNext(context.get(), entry) != 0; }
};

// The pattern list, the callback and its user data of one command.
struct Walk {
    qvVmState* L;
    int callback = 0;  // stack index; 0 without
    int userData = 0;  // stack index; 0 without
    std::string patterns;
    bool hasPatterns = false;
    bool directoriesFiltered = true;

    bool Matches(std::string_view name) const {
        return !hasPatterns || MatchPatternList(patterns, name);
    }
    bool SkipsDirectory(std::string_view name) const {
        return hasPatterns && directoriesFiltered && !Matches(name);
    }
    CallbackResult Call(int action, const std::function<void()>& fields) const {
        return CallDosCallback(L, callback, [&] {
            SetField(L, "action", action);
            fields();
            if (userData != 0) {
                VmPushString(L, "userdata");
                VmPushValue(L, userData);
                VmRawSet(L, -3);
            }
        });
    }
    // An overwrite or unprotect question: 1 go on, 0 skip, or ERR_USERABORT / the callback's
    // error (as a negative number) to stop.
    int Ask(int action, const std::function<void()>& fields) const {
        CallbackResult r = Call(action, fields);
        if (r.code != 0) return -r.code;
        if (r.value == -1 || AbortRequested()) return -ERR_USERABORT;
        return r.value != 0 ? 1 : 0;
    }
};

int CheckLength(const std::string& path) {
    if (path.size() < PATH_MAX) return 0;
    return ErrorWithText(ERR_NAMETOOLONG, path.c_str());
}

class Copier {
public:
    explicit Copier(const Walk& walk) : walk_(walk) {}

    // One file into destinationDir, under newName or its own name.
    int One(const std::string& source, const std::string& destinationDir,
            std::string_view newName) {
        std::string_view name = FilePartEx(source.c_str());
        if (!walk_.Matches(name)) return 0;
        std::string destination = Join(destinationDir, newName.empty() ? name : newName);
        if (int code = CheckLength(destination)) return code;
        if (Exists(destination)) {
            int go = MayReplace(source, destination);
            if (go <= 0) return -go;
        }
        return Content(source, destination);
    }

    // The contents of source into destination (at the top) or into destination/<its name>.
    int Tree(const std::string& source, std::string destination, bool top) {
        if (!top) destination = Join(destination, FilePartEx(source.c_str()));
        if (int code = CheckLength(destination)) return code;
        if (int code = MakeDirectoryPath(destination)) return code;
        qvFileAttributes info;
        Scan scan;
        if (!Examine(source, &info) || scan.Start(source) != 0)
            return ErrorWithText(ERR_EXAMINE, source.c_str());
        SetFileComment(destination.c_str(), info.comment);
        int code = 0;
        qvFileAttributes entry;
        while (code == 0 && scan.Next(&entry)) {
            code = Entry(Join(source, entry.name), entry, destination);
        }
        SetFileDateStamp(destination.c_str(), &info.date);
        SetProtectionBits(destination.c_str(), info.flags);
        return code;
    }

private:
    int Entry(const std::string& path, const qvFileAttributes& entry, const std::string& to) {
        int link = LinkKind(path.c_str());
        bool directory = link == QV_LINK_TO_DIRECTORY ||
                         (link == QV_LINK_NONE && entry.type == QV_DOSTYPE_DIRECTORY);
        if (directory && walk_.SkipsDirectory(entry.name)) return 0;
        if (link == QV_LINK_TO_DIRECTORY || link == QV_LINK_DANGLING) {
            // Made again as a link, never followed: a loop cannot make the walk endless.
            if (!walk_.Matches(entry.name) && link == QV_LINK_DANGLING) return 0;
            std::string target = Join(to, entry.name);
            if (Exists(target) || CopyLinkPath(path.c_str(), target.c_str())) return 0;
            return ErrorWithText(ERR_WRITEFILE, target.c_str());
        }
        return directory ? Tree(path, to, false) : One(path, to, "");
    }

    // Whether an existing destination may be replaced: 1, 0 (skip) or a negative code.
    int MayReplace(const std::string& source, const std::string& destination) {
        // The same file under another name would be truncated before it is read.
        if (SameObject(source.c_str(), destination.c_str())) {
            SetErrorString(destination.c_str());
            return -ERR_WRONGUSAGE;
        }
        qvFileAttributes info;
        bool link = LinkKind(destination.c_str()) != QV_LINK_NONE;
        if (!link && !Examine(destination, &info)) {
            SetErrorString(destination.c_str());
            return -ERR_LOCK2;
        }
        auto names = [&] {
            SetField(walk_.L, "source", source.c_str());
            SetField(walk_.L, "destination", destination.c_str());
        };
        if (walk_.callback != 0) {
            if (int go = walk_.Ask(kCopyOverwrite, names); go <= 0) return go;
        }
        if (!link && (info.flags & kWritableAndDeletable) != kWritableAndDeletable) {
            if (walk_.callback == 0) return 0;
            if (int go = walk_.Ask(kCopyUnprotect, names); go <= 0) return go;
            SetProtectionBits(destination.c_str(), QV_FILEATTR_NORMAL);
        }
        // A link is replaced, never written through.
        if (link) DeleteFilePath(destination.c_str());
        return 1;
    }

    int Content(const std::string& source, const std::string& destination) {
        qvFileAttributes info;
        if (!Examine(source, &info)) return ErrorWithText(ERR_LOCK2, source.c_str());
        FilePtr in(FileOpen(source.c_str(), QV_FILE_READ));
        if (!in) return ErrorWithText(ERR_READFILE, source.c_str());
        FileSeek(in.get(), 0, QV_SEEK_END);
        int64_t size = FileSeek(in.get(), 0, QV_SEEK_BEGINNING);
        FilePtr out(FileOpen(destination.c_str(), QV_FILE_WRITE));
        if (!out) return ErrorWithText(ERR_WRITEFILE, destination.c_str());
        int code = walk_.callback != 0 ? Blocks(in.get(), out.get(), size, source, destination)
                                       : Whole(in.get(), out.get(), size);
        if (FileClose(out.release()) != 0 && code == 0) code = ERR_WRITE;
        if (code != 0) {
            DeleteFilePath(destination.c_str());
            return code;
        }
        SetFileDateStamp(destination.c_str(), &info.date);
        SetProtectionBits(destination.c_str(), info.flags);
        SetFileComment(destination.c_str(), info.comment);
        return 0;
    }

    // Without a callback the block size is invisible: the kernel may copy it all.
    static int Whole(qvFile* in, qvFile* out, int64_t size) {
        if (FileTransfer(in, out, size) == size) return 0;
        // Whichever side stopped first: a write that fell behind the read is the failure.
        return FileSeek(out, 0, QV_SEEK_CURRENT) < FileSeek(in, 0, QV_SEEK_CURRENT) ? ERR_WRITE
                                                                                    : ERR_READ;
    }

    int Blocks(qvFile* in, qvFile* out, int64_t size, const std::string& source,
               const std::string& destination) {
        BlockPtr<uint8_t> buffer(static_cast<uint8_t*>(AllocMemBlock(kBlock, 0)));
        if (!buffer) return ERR_MEM;
        for (int64_t copied = 0; copied < size;) {
            int64_t n = FileRead(in, buffer.get(), std::min(kBlock, size - copied));
            if (n <= 0) return ERR_READ;
            if (FileWriteRaw(out, buffer.get(), n) != n) return ERR_WRITE;
            copied += n;
            CallbackResult r = walk_.Call(kCopyStatus, [&] {
                SetField(walk_.L, "source", source.c_str());
                SetField(walk_.L, "destination", destination.c_str());
                SetField(walk_.L, "copied", static_cast<double>(copied));
                SetField(walk_.L, "filesize", static_cast<double>(size));
            });
            if (r.code != 0) return r.code;
            if (!r.isNumber) return ERR_NUMCALLBACK;
            if (r.value == 1 || AbortRequested()) return ERR_USERABORT;
        }
        return 0;
    }

    const Walk& walk_;
};

class Deleter {
public:
    explicit Deleter(const Walk& walk) : walk_(walk) {}

    // One file, link or (empty) directory.
    int One(const std::string& path) {
        if (!walk_.Matches(FilePartEx(path.c_str()))) return 0;
        bool link = LinkKind(path.c_str()) != QV_LINK_NONE;
        std::string full = path;
        uint32_t flags = QV_FILEATTR_DELETE_USR;
        if (!link) {
            // The full name of the object itself (a link's would be its target's).
            LockPtr lock = Lock(path);
            qvFileAttributes info;
            if (!lock || !FullName(lock.get(), &full) || !ExamineObjectInfo(lock.get(), &info))
                return ErrorWithText(ERR_DELETEFILE, path.c_str());
            flags = info.flags;
        }
        auto file = [&] { SetField(walk_.L, "file", full.c_str()); };
        if (!(flags & QV_FILEATTR_DELETE_USR)) {
            if (walk_.callback == 0) return 0;
            if (int go = walk_.Ask(kDeleteUnprotect, file); go <= 0) return -go;
            SetProtectionBits(full.c_str(), QV_FILEATTR_NORMAL);
        }
        if (walk_.callback != 0) {
            CallbackResult r = walk_.Call(kDeleteStatus, file);
            if (r.code != 0) return r.code;
            if (r.value == 1 || AbortRequested()) return ERR_USERABORT;
        }
        if (DeleteFilePath(full.c_str())) return 0;
        return ErrorWithText(ERR_DELETEFILE, full.c_str());
    }

    // The contents of directory, and unless keepItself the directory as well.
    int Tree(const std::string& directory, bool keepItself) {
        Scan scan;
        if (int code = scan.Start(directory)) return code;
        int code = 0;
        qvFileAttributes entry;
        while (code == 0 && scan.Next(&entry)) {
            std::string path = Join(directory, entry.name);
            bool subdirectory =
                entry.type == QV_DOSTYPE_DIRECTORY && LinkKind(path.c_str()) == QV_LINK_NONE;
            if (subdirectory && walk_.SkipsDirectory(entry.name)) continue;
            code = subdirectory ? Tree(path, false) : One(path);
        }
        scan = Scan();
        // Offered whatever the walk gave; a directory that is not empty simply stays.
        if (!keepItself) One(directory);
        return code;
    }

private:
    const Walk& walk_;
};

// The callback at idx when it is given (present and not nil): it must be a function.
int CallbackArg(qvVmState* L, int idx) {
    if (VmGetTop(L) < idx || VmType(L, idx) == VM_TNIL) return 0;
    CheckArgFunction(L, idx);
    return idx;
}

void ReadWalkArgs(qvVmState* L, int callbackIdx, Walk* walk) {
    walk->L = L;
    walk->callback = CallbackArg(L, callbackIdx);
    int top = VmGetTop(L);
    walk->userData = top >= callbackIdx + 1 ? callbackIdx + 1 : 0;
    if (top >= callbackIdx + 2 && VmType(L, callbackIdx + 2) != VM_TNIL) {
        size_t length;
        const char* patterns = GetArgString(L, callbackIdx + 2, &length);
        walk->patterns.assign(patterns, length);
        walk->hasPatterns = length > 0;
    }
    if (top >= callbackIdx + 3) {
        walk->directoriesFiltered = Trunc32(GetArgNumber(L, callbackIdx + 3)) != 0;
    }
}

int StripSeparator(std::string* path) {
    bool stripped = !path->empty() && IsSeparator(path->back());
    if (stripped) path->pop_back();
    return stripped;
}

// The full name of a name the script gave, taken once before a walk: a callback that changes
// the current directory must not move the rest of the walk into another tree. Virtual files
// and unknown volumes stay as they are, to fail as they are.
std::string FullNameOf(const std::string& name) {
    std::string full;
    if (IsChunkPath(name.c_str()) || !AbsoluteName(name, &full)) return name;
    return full;
}

int CopyCommand(qvVmState* L) {
    std::string given = GetArgString(L, 1, nullptr);
    std::string destination = GetArgString(L, 2, nullptr);
    std::string newName =
        VmGetTop(L) >= 3 && VmType(L, 3) != VM_TNIL ? GetArgString(L, 3, nullptr) : "";
    Walk walk;
    ReadWalkArgs(L, 4, &walk);
    if (given.empty() && destination.empty()) return ERR_WRONGUSAGE;
    if (walk.hasPatterns) StripSeparator(&given);
    std::string source = FullNameOf(given);
    qvFileAttributes info;
    if (!Examine(source, &info)) return ErrorWithText(ERR_LOCK2, given.c_str());
    bool directory = info.type == QV_DOSTYPE_DIRECTORY;
    if (directory && !newName.empty()) return ERR_WRONGUSAGE;
    if (!directory && walk.hasPatterns) return ERR_NODIRPATTERN;
    // A tree copied into itself would feed on its own output.
    if (directory && PathInside(destination, source))
        return ErrorWithText(ERR_WRONGUSAGE, destination.c_str());
    if (int code = MakeDirectoryPath(destination)) return code;
    LockPtr target = Lock(destination);
    std::string full;
    if (!target || !FullName(target.get(), &full))
        return ErrorWithText(ERR_LOCK2, destination.c_str());
    Copier copier(walk);
    if (directory) return copier.Tree(source, full, true);
    // The copy takes the name the script gave, whatever letter case the file layer found.
    return copier.One(source, full, newName.empty() ? FilePartEx(given.c_str()) : newName);
}

int DeleteCommand(qvVmState* L) {
    std::string path = GetArgString(L, 1, nullptr);
    Walk walk;
    ReadWalkArgs(L, 2, &walk);
    if (path.empty() || IsChunkPath(path.c_str())) return ERR_WRONGUSAGE;
    bool keepItself = StripSeparator(&path) || walk.hasPatterns;
    path = FullNameOf(path);
    Deleter deleter(walk);
    // A link goes as a link, whatever it points at; only one to a directory that is named as
    // a directory (with "/" or a pattern list) stands for that directory's contents.
    int link = LinkKind(path.c_str());
    bool throughLink = link == QV_LINK_TO_DIRECTORY && keepItself;
    qvFileAttributes info;
    if (link == QV_LINK_NONE) {
        if (!Lock(path)) return 0;
        if (!Examine(path, &info)) return ERR_EXAMINE;
    }
    bool directory = throughLink || (link == QV_LINK_NONE && info.type == QV_DOSTYPE_DIRECTORY);
    if (!directory && walk.hasPatterns) return ERR_NODIRPATTERN;
    return directory ? deleter.Tree(path, keepItself) : deleter.One(path);
}

}  // namespace

// A stop asked for by the callback or the user is no failure of the command.
int CopyFile(qvVmState* L) {
    CheckArgCount(L, 2, 7);
    int code = CopyCommand(L);
    return code == ERR_USERABORT ? 0 : code;
}

int DeleteFile(qvVmState* L) {
    CheckArgCount(L, 1, 5);
    int code = DeleteCommand(L);
    return code == ERR_USERABORT ? 0 : code;
}

}  // namespace qv
