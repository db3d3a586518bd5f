// The catalog reader on arbitrary bytes: it must refuse or read them without touching
// anything outside, and every text it returns must end within its block.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/linux/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvCatalog* catalog = qv::ParseCatalog({data, size}, 0);
    if (catalog == nullptr) return 0;
    size_t total = 0;
    for (uint32_t id = 0; id < 1024; ++id) total += std::strlen(GetCatalogText(catalog, id, ""));
    FreeCatalog(catalog);
    return total == SIZE_MAX;  // keeps the reads from being optimised away
}
