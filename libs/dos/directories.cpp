// Directory objects, directory listings and file attributes.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/convert.h"
#include "libs/dos/commands.h"
#include "libs/dos/date_text.h"
#include "libs/system/commands.h"
#include "platform/linux/blocks.h"
#include "platform/linux/file_attributes.h"
#include "platform/linux/lists.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/option_tables.h"

// One open directory: the support layer's handle and the scan it runs.
struct qvDosDirectory {
    qvObjectHeader header;
    uint32_t endReached;
    qvFileHandle* handle;
    qvDirScan* scan;
};

namespace qv {
namespace {

qvObjectHeader* directories = nullptr;

qvDosDirectory* AsDirectory(qvObjectHeader* header) {
    return reinterpret_cast<qvDosDirectory*>(header);
}

void FreeDirectory(qvVmState* L, qvDosDirectory* directory) {
    FreeDirContext(directory->scan);
    CloseFileEx(directory->handle);
    FreeRefList(L, directory->header.data);
    FreeMemBlock(directory);
}

void Unlink(qvDosDirectory* directory) {
    UnlinkObject(&directories, &directory->header);
}

void CloseDirectoryWithId(qvVmState* L, uint32_t id) {
    if (qvObjectHeader* h = FindObjectInList(directories, {id, nullptr})) {
        Unlink(AsDirectory(h));
        FreeDirectory(L, AsDirectory(h));
    }
}

int DirectoryArg(qvVmState* L, int idx, qvDosDirectory** directory) {
    return FindObjectArg(L, idx, directories, ERR_FINDDIR, directory);
}

// A scan of path: its handle and context, or the error (1286 when it does not open).
struct Scan {
    FileExPtr handle;
    qvDirScan* context = nullptr;
    ~Scan() { FreeDirContext(context); }
};

int StartScan(const char* path, Scan* scan) {
    scan->handle.reset(OpenFileEx(path, QV_LOCK_SHARED));
    if (!scan->handle) return ErrorWithText(ERR_LOCK2, path);
    return ExamineDirEx(scan->handle.get(), &scan->context);
}

// Stores text at index n of the table at idx.
void StoreName(qvVmState* L, int idx, int32_t n, const char* text) {
    VmPushString(L, text);
    VmRawSetI(L, idx, n);
}

void SortNames(qvVmState* L, int idx) {
    VmPushCClosure(L, Sort, 0);
    VmPushValue(L, idx);
    VmCall(L, 1, 0);
}

// Field "time" of SetFileAttributes, when present; ERR_INVALIDDATE for a bad text.
int ReadTimeField(qvVmState* L, int t, bool* given, qvDateStamp* date) {
    VmPushString(L, "time");
    VmGetTable(L, t);
    *given = VmType(L, -1) != VM_TNIL;
    int code = 0;
    if (*given) {
        qvDateFields fields;
        code =
            VmType(L, -1) == VM_TSTRING &&
                    ParseDateText(std::string_view(VmToString(L, -1), VmStrLen(L, -1)), &fields) &&
                    TimeToDateStamp(&fields, date)
                ? 0
                : ERR_INVALIDDATE;
    }
    VmSetTop(L, -2);
    return code;
}

}  // namespace

std::string DateText(const qvDateStamp& date) {
    qvDateFields fields;
    ExamineEntry(&date, &fields, 0);
    return FormatDateText(fields);
}

void PushAttributeTable(qvVmState* L, const char* key, const char* value,
                        const qvFileAttributes& info) {
    VmNewTable(L);
    SetTableFieldString(L, key, value);
    SetTableFieldInt(L, "type", info.type == QV_DOSTYPE_DIRECTORY ? 1 : 0);
    if (info.type != QV_DOSTYPE_DIRECTORY) {
        SetTableFieldNumber(L, "size", static_cast<double>(info.size));
    }
    SetTableFieldNumber(L, "flags", info.flags);
    SetTableFieldString(L, "time", DateText(info.date).c_str());
    SetTableFieldString(L, "comment", info.comment);
}

int RegisterDirectoryList() {
    return RegisterObjectList(&directories);
}

void FreeAllDirectories(qvVmState* L) {
    DrainList(&directories, [L](qvObjectHeader* h) { FreeDirectory(L, AsDirectory(h)); });
}

int OpenDirectory(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    int wasNil = 0;
    auto id = static_cast<uint32_t>(GetOptIntArg(L, 1, &wasNil));
    const char* path = GetStringArgResolved(L, 2, 0, nullptr);
    if (!wasNil) CloseDirectoryWithId(L, id);
    Scan scan;
    if (int code = StartScan(path, &scan)) return code;
    auto* directory = static_cast<qvDosDirectory*>(AllocMemBlock(sizeof(qvDosDirectory), 1));
    if (directory == nullptr) return ERR_MEM;
    directory->header = NewObjectHeader(QV_OBJ_DIRECTORY, id, wasNil, directory);
    directory->handle = scan.handle.release();
    directory->scan = scan.context;
    scan.context = nullptr;
    AppendObject(&directories, &directory->header);
    return PushNewObjectHandle(L, directory->header);
}

int CloseDirectory(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosDirectory* directory;
    if (int code = DirectoryArg(L, 1, &directory)) return code;
    Unlink(directory);
    FreeDirectory(L, directory);
    return 0;
}

int NextDirectoryEntry(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosDirectory* directory;
    if (int code = DirectoryArg(L, 1, &directory)) return code;
    if (directory->endReached) return 0;
    qvFileAttributes info;
    if (!ExamineNextEx(directory->handle, directory->scan, &info)) {
        directory->endReached = 1;
        return 0;
    }
    PushAttributeTable(L, "name", info.name, info);
    return 1;
}

int ReadDirectory(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const char* path = GetStringArgResolved(L, 1, 0, nullptr);
    CheckArgTable(L, 2);
    CheckArgTable(L, 3);
    bool sort = Trunc32(GetOptArgNumber(L, 4, 1)) != 0;
    Scan scan;
    if (int code = StartScan(path, &scan)) return code;
    int32_t counts[2] = {0, 0};  // files, directories
    qvFileAttributes info;
    while (ExamineNextEx(scan.handle.get(), scan.context, &info)) {
        int kind = info.type == QV_DOSTYPE_DIRECTORY ? 1 : 0;
        StoreName(L, 2 + kind, counts[kind]++, info.name);
    }
    for (int kind = 0; kind < 2; ++kind) {
        StoreName(L, 2 + kind, counts[kind], "");
        if (sort) SortNames(L, 2 + kind);
    }
    VmPushNumber(L, counts[0]);
    VmPushNumber(L, counts[1]);
    return 2;
}

int GetFileAttributes(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    FileExPtr handle(OpenFileEx(name, QV_LOCK_SHARED));
    qvFileAttributes info;
    if (!handle || !ExamineEx(handle.get(), &info)) return ErrorWithText(ERR_LOCK2, name);
    char full[kPathBufferSize];
    if (!NameFromFileEx(handle.get(), full, sizeof full)) CopyText(full, sizeof full, name);
    PushAttributeTable(L, "path", full, info);
    return 1;
}

int SetFileAttributes(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const char* name = GetArgString(L, 1, nullptr);
    CheckArgTable(L, 2);
    if (IsChunkPath(name)) return ERR_WRONGUSAGE;
    SetErrorString(name);
    if (!FileExPtr(OpenFileEx(name, QV_LOCK_SHARED))) return ERR_LOCK2;
    double flags;
    if (GetTableFieldNumber(L, 2, "flags", &flags, nullptr) &&
        !SetProtectionBits(name, Bits32(flags))) {
        return ERR_SETFILEATTR;
    }
    bool timeGiven = false;
    qvDateStamp date;
    if (int code = ReadTimeField(L, 2, &timeGiven, &date)) return code;
    char* comment = nullptr;
    if (GetTableFieldStringAlloc(L, 2, "comment", 0, nullptr, &comment, nullptr, nullptr)) {
        BlockPtr<char> owned(comment);
        if (!SetFileComment(name, comment)) return ERR_SETFILECOMMENT;
    }
    // Last, since changing the comment changes the date.
    if (timeGiven && !SetFileDateStamp(name, &date)) return ERR_SETFILEDATE;
    return 0;
}

}  // namespace qv
