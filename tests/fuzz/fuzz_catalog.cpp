// Catalog files are read from wherever the user puts them: any bytes must be refused or read
// without touching anything outside, and every text returned must end within its block.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/linux/catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvCatalog* catalog = qv::ParseCatalog({data, size}, 0);
    if (catalog == nullptr) return 0;
    volatile size_t total = 0;
    for (uint32_t id = 0; id < 1024; ++id)
        total = total + std::strlen(GetCatalogText(catalog, id, ""));
    FreeCatalog(catalog);
    return 0;
}
