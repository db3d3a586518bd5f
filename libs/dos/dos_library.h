// The "dos" command library: numbered file objects, paths, directories, attributes, volumes,
// environment variables, temporary names, virtual files and wildcards. Other libraries (the
// serialiser, memblock) read and write through the same file records and I/O mode.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/files.h"
#include "runtime/objects.h"

enum : uint32_t { QV_OBJ_FILE = 44, QV_OBJ_DIRECTORY = 45 };

// What the script asked OpenFile for.
enum : uint32_t { QV_MODE_READWRITE = 1004, QV_MODE_READ = 1005, QV_MODE_WRITE = 1006 };

enum : int { QV_IO_BUFFERED = 0, QV_IO_UNBUFFERED = 1 };

// One open file object. The position and size are the library's own counts, so that range
// checks never ask the operating system.
struct qvDosFile {
    qvObjectHeader header;
    uint32_t scriptMode;  // QV_MODE_...
    uint32_t layerMode;   // QV_FILE_READ, QV_FILE_WRITE or QV_FILE_READWRITE
    int64_t position;
    int64_t size;  // at open time, raised by writes that pass it
    qvFile* handle;
};

// Registers the commands as globals, the constants, the file and directory lists with the
// object registry, and the table under "dos". Returns 0 or ERR_MEM.
int RegisterDosLibrary(qvVmState* L);
// Shutdown: closes every file object, deletes the temporary files named by the library,
// frees the directory objects and releases the virtual string files.
void FreeDosObjects(qvVmState* L);

// The file object of id; 0, or ERR_FINDARRAY for a handle and ERR_FINDFILE (the number as
// the error argument) for a numeric id.
int FindFileHandle(qvObjectId id, qvDosFile** file);
// Reads exactly n bytes through handle in the library's I/O mode. With a file record the
// read may not pass its size (ERR_READRANGE) and advances its position. 0, or ERR_READ for a
// short read.
int ReadExactBytes(qvDosFile* file, qvFile* handle, void* destination, int64_t n);

// Writes n bytes in the library's I/O mode; the position, and the size when the position
// passes it, grow by what the layer took. 0, or ERR_WRITE when it took fewer.
int WriteFileBytes(qvDosFile* file, const void* bytes, int64_t n);
// Reads n bytes in the I/O mode without looking at the recorded size; the position grows by
// what the layer delivered. 0, or ERR_READ when it delivered fewer.
int ReadFileBytes(qvDosFile* file, void* destination, int64_t n);

namespace qv {

// The file object of argument idx in *file: 0, or the lookup error of FindFileHandle, which
// commands return to the script's CALL.
int FileArg(qvVmState* L, int idx, qvDosFile** file);
// The mode errors of the read and write rules, returned like the lookup errors:
// ERR_WRITEONLY for a file opened to write only, ERR_READONLY for one opened to read only.
int CheckReadable(const qvDosFile* file);
int CheckWritable(const qvDosFile* file);

// Reads and writes of up to n bytes in the library-wide I/O mode (SetIOMode); the layer's
// count.
int64_t DosRead(qvFile* handle, void* destination, int64_t n);
int64_t DosWrite(qvFile* handle, const void* source, int64_t n);

}  // namespace qv
