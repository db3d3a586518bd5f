// Catalogs: translated message texts keyed by number, read from the platform's catalog files
// (an IFF "FORM" of type "CTLG" whose "STRS" chunks hold the texts and whose "FVER" chunk
// carries the version). Catalog files are untrusted input: a file that is malformed anywhere
// is refused as a whole, and the default texts stay in force.
#pragma once

#include <cstdint>
#include <span>

struct qvCatalog;

// Looks for PROGDIR:Catalogs/<language>/<name>, then LOCALE:Catalogs/<language>/<name>, found
// without regard to letter case, with the language of qv::CatalogLanguage (none: no
// catalog). A version below minVersion is refused (0 accepts any). Returns the catalog or
// none.
qvCatalog* OpenAppCatalog(const char* name, uint32_t minVersion);
// The text of message id, or defaultText when the catalog is none or lacks it.
const char* GetCatalogText(const qvCatalog* catalog, uint32_t id, const char* defaultText);
// Frees the catalog; none is allowed.
void FreeCatalog(qvCatalog* catalog);

namespace qv {

// The reader under OpenAppCatalog, also used for the catalogs that scripts open.
qvCatalog* ReadCatalogFile(const char* path, uint32_t minVersion);
qvCatalog* ParseCatalog(std::span<const uint8_t> bytes, uint32_t minVersion);

}  // namespace qv
