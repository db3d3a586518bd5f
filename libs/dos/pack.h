// Packed files: a 4-byte magic ("QVPK", or "QVZ" and a zero byte for compressed applets),
// four reserved zero bytes and one zlib stream of the whole source. The file packer of the
// dos library and the applet loader share these two engines.
#pragma once

#include <cstdint>

#include "engine/vm.h"

// Opening the destination for writing truncates it, so a destination that is the source
// itself is refused (ERR_WRONGUSAGE) before anything is written.
// Packs source into destination behind magic; 0 or an error code (the file name goes to the
// error argument). outSize (optional) receives the packed size, header included.
int PackFile(const char* magic, const char* source, const char* destination, uint32_t* outSize);
// Unpacks the packed file whose magic stands at startOffset of source; 0 or an error code.
// outSize (optional) receives the unpacked size. A partial destination stays on disk.
int UnpackFile(const char* magic, const char* source, const char* destination, uint32_t startOffset,
               uint32_t* outSize);

// Command handlers: CompressFile(source, destination) and DecompressFile(source,
// destination) each return the size written.
int CompressFile(qvVmState* L);
int DecompressFile(qvVmState* L);
