// File objects: numbered records over file-layer handles with their own position and size.
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/convert.h"
#include "libs/dos/commands.h"
#include "platform/linux/blocks.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/lists.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/messages.h"
#include "runtime/objects.h"
#include "runtime/report.h"

namespace qv {
namespace {

qvObjectHeader* files = nullptr;
int ioMode = QV_IO_BUFFERED;

qvDosFile* AsFile(qvObjectHeader* header) {
    return reinterpret_cast<qvDosFile*>(header);
}

void Unlink(qvDosFile* file) {
    UnlinkObject(&files, &file->header);
}

// Closes the handle and frees the record; false when pending data could not be stored.
bool FreeFile(qvVmState* L, qvDosFile* file) {
    bool stored = FileClose(file->handle) == 0;
    FreeRefList(L, file->header.data);
    FreeMemBlock(file);
    return stored;
}

void Append(qvDosFile* file) {
    AppendObject(&files, &file->header);
}

void CloseFileWithId(qvVmState* L, uint32_t id) {
    if (qvObjectHeader* h = FindObjectInList(files, {id, nullptr})) {
        Unlink(AsFile(h));
        FreeFile(L, AsFile(h));
    }
}

int LayerMode(uint32_t scriptMode) {
    switch (scriptMode) {
        case QV_MODE_READ:
            return QV_FILE_READ;
        case QV_MODE_WRITE:
            return QV_FILE_WRITE;
        case QV_MODE_READWRITE:
            return QV_FILE_READWRITE;
        default:
            return -1;
    }
}

// Reads an n-byte big-endian number of file argument 1 into *value; 0 or the error.
int ReadNumber(qvVmState* L, int n, uint64_t* value) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    if (int code = CheckReadable(file)) return code;
    uint8_t bytes[8];
    if (int code = ReadExactBytes(file, file->handle, bytes, n)) return code;
    *value = LoadBigEndian(bytes, n);
    return 0;
}

// Pushes the number ReadNumber reads, converted by convert; 1 or the error.
template <typename Convert>
int PushReadNumber(qvVmState* L, int n, Convert convert) {
    uint64_t value;
    if (int code = ReadNumber(L, n, &value)) return code;
    VmPushNumber(L, convert(value));
    return 1;
}

// Writes the low n bytes of argument 2, converted to a 32-bit integer, big-endian.
int WriteInteger(qvVmState* L, int n) {
    CheckArgCount(L, 2, 2);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    auto value = static_cast<uint32_t>(Trunc32(GetArgNumber(L, 2)));
    if (int code = CheckWritable(file)) return code;
    uint8_t bytes[4];
    StoreBigEndian(value, bytes, n);
    return WriteFileBytes(file, bytes, n);
}

// A line: bytes up to a line feed (consumed) or the recorded size, carriage returns dropped.
int ReadLineInto(qvDosFile* file, StrBuf* buffer) {
    while (file->position < file->size) {
        int c;
        if (ioMode == QV_IO_BUFFERED) {
            c = FileReadChar(file->handle);
        } else {
            uint8_t byte;
            c = FileRead(file->handle, &byte, 1) == 1 ? byte : -1;
        }
        if (c < 0) return ERR_READ;  // the file shrank beneath us
        ++file->position;
        if (c == '\n') break;
        if (c == '\r') continue;
        char ch = static_cast<char>(c);
        StrBufAddLString(buffer, &ch, 1);
    }
    return 0;
}

}  // namespace

int64_t DosRead(qvFile* handle, void* destination, int64_t n) {
    return ioMode == QV_IO_BUFFERED ? FileReadBuffered(handle, destination, n)
                                    : FileRead(handle, destination, n);
}

int64_t DosWrite(qvFile* handle, const void* source, int64_t n) {
    return ioMode == QV_IO_BUFFERED ? FileWrite(handle, source, n)
                                    : FileWriteRaw(handle, source, n);
}

int FileArg(qvVmState* L, int idx, qvDosFile** file) {
    return FindObjectArg(L, idx, files, ERR_FINDFILE, file);
}

int CheckReadable(const qvDosFile* file) {
    return file->layerMode == QV_FILE_WRITE ? ERR_WRITEONLY : 0;
}

int CheckWritable(const qvDosFile* file) {
    return file->layerMode == QV_FILE_READ ? ERR_READONLY : 0;
}

int RegisterFileList() {
    ioMode = QV_IO_BUFFERED;
    return RegisterObjectList(&files);
}

void FreeAllFiles(qvVmState* L) {
    DrainList(&files, [L](qvObjectHeader* h) { FreeFile(L, AsFile(h)); });
}

int OpenFile(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    int wasNil = 0;
    auto id = static_cast<uint32_t>(GetOptIntArg(L, 1, &wasNil));
    auto scriptMode = static_cast<uint32_t>(Trunc32(GetOptArgNumber(L, 3, QV_MODE_READ)));
    int layerMode = LayerMode(scriptMode);
    const char* name = layerMode == QV_FILE_READ ? GetStringArgResolved(L, 2, 0, nullptr)
                                                 : GetArgString(L, 2, nullptr);
    if (layerMode < 0 || name[0] == '\0') return ERR_WRONGUSAGE;
    if (!wasNil) CloseFileWithId(L, id);
    PrintLoadingMessage(GetMessageText(kMsgOpeningFile), name, 0);
    SetErrorString(name);
    FilePtr handle(FileOpen(name, layerMode));
    if (!handle) {
        PrintLoadingFailed();
        return layerMode == QV_FILE_READ ? ERR_READFILE : ERR_WRITEFILE;
    }
    FileSeek(handle.get(), 0, QV_SEEK_END);
    int64_t size = FileSeek(handle.get(), 0, QV_SEEK_BEGINNING);
    auto* file = static_cast<qvDosFile*>(AllocMemBlock(sizeof(qvDosFile), 1));
    if (file == nullptr) {
        PrintLoadingFailed();
        return ERR_MEM;
    }
    file->header = NewObjectHeader(QV_OBJ_FILE, id, wasNil, file);
    file->scriptMode = scriptMode;
    file->layerMode = static_cast<uint32_t>(layerMode);
    file->size = size > 0 ? size : 0;
    file->handle = handle.release();
    Append(file);
    PrintLoadingDone();
    return PushNewObjectHandle(L, file->header);
}

int CloseFile(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    Unlink(file);
    // The record goes either way; a flush that failed has lost the data written last.
    return FreeFile(L, file) ? 0 : ERR_WRITE;
}

int FlushFile(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    return FileFlush(file->handle) == 0 ? 0 : ERR_WRITE;
}

int FileLength(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    VmPushNumber(L, static_cast<double>(file->size));
    return 1;
}

int FilePos(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    VmPushNumber(L, static_cast<double>(file->position));
    return 1;
}

int Eof(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    VmPushNumber(L, file->position == file->size ? 1 : 0);
    return 1;
}

int Seek(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    double target = std::trunc(GetArgNumber(L, 2));
    if (target == -1) target = static_cast<double>(file->size);
    if (!(target >= 0 && target <= static_cast<double>(file->size))) return ERR_SEEK;
    auto position = static_cast<int64_t>(target);
    if (FileSeek(file->handle, position, QV_SEEK_BEGINNING) < 0) return ERR_SEEK;
    file->position = position;
    return 0;
}

int SetIOMode(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int32_t mode = Trunc32(GetArgNumber(L, 1));
    if (mode != QV_IO_BUFFERED && mode != QV_IO_UNBUFFERED) return ERR_WRONGUSAGE;
    ioMode = mode;
    return 0;
}

int ReadChr(qvVmState* L) {
    return PushReadNumber(L, 1, [](uint64_t v) { return static_cast<double>(v); });
}

int ReadShort(qvVmState* L) {
    return PushReadNumber(L, 2, [](uint64_t v) { return static_cast<double>(v); });
}

int ReadInt(qvVmState* L) {
    return PushReadNumber(L, 4, [](uint64_t v) {
        return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
    });
}

int ReadFloat(qvVmState* L) {
    return PushReadNumber(L, 8, [](uint64_t v) { return std::bit_cast<double>(v); });
}

int ReadString(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    int32_t length = Trunc32(GetArgNumber(L, 2));
    if (int code = CheckReadable(file)) return code;
    if (length < 0) return ERR_WRONGUSAGE;
    // The range is checked before the block is had, so no length can ask for more memory
    // than the file holds.
    if (file->position + length > file->size) return ERR_READRANGE;
    BlockPtr<char> bytes(static_cast<char*>(AllocMemBlock(length > 0 ? length : 1, 0)));
    if (!bytes) return ERR_MEM;
    if (int code = ReadExactBytes(file, file->handle, bytes.get(), length)) return code;
    VmPushLString(L, bytes.get(), static_cast<size_t>(length));
    return 1;
}

int ReadLine(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    if (int code = CheckReadable(file)) return code;
    if (file->position >= file->size) return ERR_READRANGE;
    StrBuf buffer;
    StrBufInit(L, &buffer);
    if (int code = ReadLineInto(file, &buffer)) return code;
    StrBufPushResult(&buffer);
    return 1;
}

int WriteChr(qvVmState* L) {
    return WriteInteger(L, 1);
}

int WriteShort(qvVmState* L) {
    return WriteInteger(L, 2);
}

int WriteInt(qvVmState* L) {
    return WriteInteger(L, 4);
}

int WriteFloat(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    double value = GetArgNumber(L, 2);
    if (int code = CheckWritable(file)) return code;
    uint8_t bytes[8];
    StoreBigEndian(std::bit_cast<uint64_t>(value), bytes, 8);
    return WriteFileBytes(file, bytes, 8);
}

int WriteString(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    size_t length;
    const char* text = GetArgString(L, 2, &length);
    int32_t wanted = Trunc32(GetOptArgNumber(L, 3, 0));
    if (int code = CheckWritable(file)) return code;
    if (wanted < 0) return ERR_WRONGUSAGE;
    if (wanted != 0) {
        if (static_cast<size_t>(wanted) > length) return ERR_STRTOOSHORT;
        length = static_cast<size_t>(wanted);
    }
    return WriteFileBytes(file, text, static_cast<int64_t>(length));
}

int WriteLine(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    size_t length;
    const char* text = GetArgString(L, 2, &length);
    if (int code = CheckWritable(file)) return code;
    if (int code = WriteFileBytes(file, text, static_cast<int64_t>(length))) return code;
    return WriteFileBytes(file, "\n", 1);
}

}  // namespace qv

int FindFileHandle(qvObjectId id, qvDosFile** file) {
    qvObjectHeader* h = qv::FindObjectInList(qv::files, id);
    if (h == nullptr) return qv::ObjectNotFound(id, ERR_FINDFILE);
    *file = qv::AsFile(h);
    return 0;
}

int ReadExactBytes(qvDosFile* file, qvFile* handle, void* destination, int64_t n) {
    if (file != nullptr) {
        return file->position + n > file->size ? ERR_READRANGE
                                               : ReadFileBytes(file, destination, n);
    }
    return n <= 0 || qv::DosRead(handle, destination, n) == n ? 0 : ERR_READ;
}

int WriteFileBytes(qvDosFile* file, const void* bytes, int64_t n) {
    int64_t written = n > 0 ? qv::DosWrite(file->handle, bytes, n) : 0;
    if (written > 0) {
        file->position += written;
        if (file->position > file->size) file->size = file->position;
    }
    return written == n ? 0 : ERR_WRITE;
}

int ReadFileBytes(qvDosFile* file, void* destination, int64_t n) {
    int64_t got = n > 0 ? qv::DosRead(file->handle, destination, n) : 0;
    if (got > 0) file->position += got;
    return got == n ? 0 : ERR_READ;
}
