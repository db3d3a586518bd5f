// File services of the run-time core: virtual paths of linked files, script names resolved
// against the applet's linked files, examine and directory calls that virtual files answer
// sensibly, path joins and byte-order I/O.
//
// qvVirtualPath, the text form of a virtual file, is ":::chunk<offset>:<size>*<name>/<container
// path>" for a stretch of a file (offset absolute in the container) and
// ":::chunkS<base>:<size>*<name>/<hex address>" for memory; the file layer opens both
// (platform/linux/files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/vm.h"
#include "platform/linux/files.h"
#include "platform/linux/paths.h"
#include "runtime/runtime_state.h"

// The support layer's handle for examine and directory calls: a lock, or none for a
// virtual file, which is known by its name alone.
struct qvFileHandle {
    qvLock* lock;
    char name[1024];
};

// The virtual path of size bytes at base + offset of the container file, named by the file
// part of name. With offset -1 the memory form: base is the owner's number and container
// the address of the bytes.
std::string MakeChunkPath(const char* name, int64_t offset, uint64_t size, int64_t base,
                          const void* container);

// name itself, or the virtual path of the applet's linked file of that name (found set to
// 1). Plain lookups compare whole names without regard to case, "\" read as "/", and skip
// fonts; font lookups (font non-zero) compare only the "::font:" entries, after the prefix,
// with a ".font" ending removed; a ".ttf" or ".otf" name is looked up as a plain file.
std::string ResolveAppletFile(qvVmState* L, const char* name, int font, int* found);
// String argument idx resolved as above; a resolved argument is replaced on the stack by its
// virtual path, which the result points into.
const char* GetStringArgResolved(qvVmState* L, int idx, int font, int* found);
// The per-run records in the registry ("applet", "clargs").
qvScriptHeader* GetAppletDescriptor(qvVmState* L);
qvStartupOptions* GetClargsRecord(qvVmState* L);

// A ":::chunk" name keeps no lock; any other name must lock (else none).
qvFileHandle* OpenFileEx(const char* name, int mode);
void CloseFileEx(qvFileHandle* handle);
// Virtual files report their size, type 15, no comment and 16 August 1982; non-zero on
// success.
int ExamineEx(qvFileHandle* handle, qvFileAttributes* info);
int ExamineNextEx(qvFileHandle* handle, qvDirScan* scan, qvFileAttributes* info);
// Starts a directory scan; a failure (ERR_NOTADIR for a virtual file or a plain file) has the
// object's name as the message argument.
int ExamineDirEx(qvFileHandle* handle, qvDirScan** scan);
// The full name of the object; for a virtual file the current directory joined to its
// name ("unknown" when it has none). Non-zero on success, 0 when it does not fit.
int NameFromFileEx(qvFileHandle* handle, char* buffer, size_t size);
// Copies source to destination; 0, ERR_MEM, ERR_READFILE (source) or ERR_WRITEFILE
// (destination), the failing name as the error argument.
int CopyFileEx(const char* source, const char* destination);

// Appends "/" (unless path is empty or ends in "/", "\" or ":") and name to path (a buffer
// of size bytes). Returns 1, or 0 with path unchanged when the result would not fit.
int AddPart(char* path, const char* name, size_t size);
// Writes text without its NUL; the count written.
int64_t FileWriteString(qvFile* file, const char* text);

// Byte-order readers, byte by byte through FileReadChar: at the end of the file the missing
// bytes read as 0xFF; the qv:: forms below report the end instead.
int32_t ReadLE16(qvFile* file);
int32_t ReadBE16(qvFile* file);
uint32_t ReadLE32(qvFile* file);
uint32_t ReadBE32(qvFile* file);
// Byte-order writers through FileWriteChar; non-zero when every byte was written.
int WriteLE16(qvFile* file, uint32_t value);
int WriteBE16(qvFile* file, uint32_t value);
int WriteLE32(qvFile* file, uint32_t value);
int WriteBE32(qvFile* file, uint32_t value);

namespace qv {

// Copies at most size - 1 bytes of text and a NUL into out.
void CopyText(char* out, size_t size, const char* text);

// Reads an n-byte (1 to 4) number in big- or little-endian order; false at the end.
bool ReadBE(qvFile* file, int n, uint32_t* value);
bool ReadLE(qvFile* file, int n, uint32_t* value);
// Unsigned 16-bit readers for length fields.
bool ReadBEU16(qvFile* file, uint32_t* value);

// True for the names of the built-in fonts, which are never linked files.
bool IsBuiltInFontName(const char* name);
// True for a font name that names a TrueType or OpenType file (".ttf", ".otf"): the applet
// links such a file as a plain file, without the header of its linked fonts.
bool IsFontFileName(std::string_view name);

}  // namespace qv
