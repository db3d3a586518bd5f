#include "platform/linux/catalog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/linux/byte_order.h"
#include "platform/linux/locale.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"

// One block: this record, then count entries, then the texts, each ending in a NUL.
struct qvCatalog {
    uint32_t count;
};

namespace qv {
namespace {

struct CatalogEntry {
    uint32_t id;
    uint32_t offset;  // of the text in the text area
};

CatalogEntry* Entries(qvCatalog* catalog) {
    return reinterpret_cast<CatalogEntry*>(catalog + 1);
}

const CatalogEntry* Entries(const qvCatalog* catalog) {
    return reinterpret_cast<const CatalogEntry*>(catalog + 1);
}

char* Texts(qvCatalog* catalog) {
    return reinterpret_cast<char*>(Entries(catalog) + catalog->count);
}

const char* Texts(const qvCatalog* catalog) {
    return reinterpret_cast<const char*>(Entries(catalog) + catalog->count);
}

// Larger files are no catalogs; this keeps a hostile file from asking for any size.
constexpr long kMaxCatalogFile = 16 << 20;

bool IdIs(std::span<const uint8_t> bytes, size_t at, const char* id) {
    return std::memcmp(bytes.data() + at, id, 4) == 0;
}

// "$VER: name 2.1 (date)": the number after the name; 0 when there is none.
uint32_t ParseVersion(std::span<const uint8_t> data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    text = text.substr(0, text.find('\0'));
    size_t at = text.find("$VER:");
    if (at == std::string_view::npos) return 0;
    at = text.find_first_not_of(' ', at + 5);
    at = text.find(' ', at);
    at = text.find_first_not_of(' ', at);
    uint32_t version = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (version > 100000) return 0;
        version = version * 10 + static_cast<uint32_t>(text[at] - '0');
    }
    return version;
}

// Calls visit(id, text) for every record of a "STRS" chunk; false when a record runs past
// the chunk.
template <typename Visit>
bool WalkStrings(std::span<const uint8_t> chunk, Visit& visit) {
    size_t at = 0;
    while (at < chunk.size()) {
        if (chunk.size() - at < 8) return false;
        uint32_t id = LoadBigEndian32(chunk.data() + at);
        uint32_t length = LoadBigEndian32(chunk.data() + at + 4);
        at += 8;
        if (length > chunk.size() - at) return false;
        std::string_view text(reinterpret_cast<const char*>(chunk.data() + at), length);
        if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        visit(id, text);
        at += (length + 3) & ~size_t{3};
    }
    return true;
}

// Walks the chunks of the form; false when the file is no catalog or is malformed.
template <typename Visit>
bool WalkCatalog(std::span<const uint8_t> bytes, uint32_t* version, Visit& visit) {
    if (bytes.size() < 12 || !IdIs(bytes, 0, "FORM") || !IdIs(bytes, 8, "CTLG")) return false;
    uint32_t formSize = LoadBigEndian32(bytes.data() + 4);
    if (formSize < 4 || formSize > bytes.size() - 8) return false;
    std::span<const uint8_t> form = bytes.subspan(0, size_t{formSize} + 8);
    *version = 0;
    size_t at = 12;
    while (at < form.size()) {
        if (form.size() - at < 8) return false;
        uint32_t size = LoadBigEndian32(form.data() + at + 4);
        if (size > form.size() - at - 8) return false;
        std::span<const uint8_t> data = form.subspan(at + 8, size);
        if (IdIs(form, at, "FVER")) *version = ParseVersion(data);
        if (IdIs(form, at, "STRS") && !WalkStrings(data, visit)) return false;
        at += 8 + size + (size & 1);
    }
    return true;
}

struct CatalogSize {
    uint32_t count = 0;
    size_t textBytes = 0;
    void operator()(uint32_t, std::string_view text) {
        ++count;
        textBytes += text.size() + 1;
    }
};

struct CatalogFill {
    qvCatalog* catalog;
    uint32_t next = 0;
    uint32_t offset = 0;
    void operator()(uint32_t id, std::string_view text) {
        Entries(catalog)[next++] = {id, offset};
        char* out = Texts(catalog) + offset;
        std::memcpy(out, text.data(), text.size());
        out[text.size()] = '\0';
        offset += static_cast<uint32_t>(text.size() + 1);
    }
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

struct BlockFreer {
    void operator()(void* block) const { FreeMemBlock(block); }
};

// The language's catalog file under a volume, when the volume resolves.
bool FindCatalogFile(const char* volume, const char* language, const char* name,
                     std::string* path) {
    std::string wanted = std::string(volume) + "Catalogs/" + language + "/" + name;
    if (!ResolvePath(wanted, LeafLookup::kFold, path)) return false;
    FILE* f = std::fopen(path->c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

}  // namespace

qvCatalog* ParseCatalog(std::span<const uint8_t> bytes, uint32_t minVersion) {
    CatalogSize size;
    uint32_t version = 0;
    if (!WalkCatalog(bytes, &version, size)) return nullptr;
    if (minVersion != 0 && version < minVersion) return nullptr;
    size_t total = sizeof(qvCatalog) + size.count * sizeof(CatalogEntry) + size.textBytes;
    auto* catalog = static_cast<qvCatalog*>(AllocMemBlock(total, 0));
    if (catalog == nullptr) return nullptr;
    catalog->count = size.count;
    CatalogFill fill{catalog};
    WalkCatalog(bytes, &version, fill);
    return catalog;
}

qvCatalog* ReadCatalogFile(const char* path, uint32_t minVersion) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
    long length = std::ftell(file.get());
    if (length <= 0 || length > kMaxCatalogFile || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return nullptr;
    }
    std::unique_ptr<void, BlockFreer> buffer(AllocMemBlock(static_cast<size_t>(length), 0));
    if (!buffer) return nullptr;
    size_t got = std::fread(buffer.get(), 1, static_cast<size_t>(length), file.get());
    return ParseCatalog({static_cast<const uint8_t*>(buffer.get()), got}, minVersion);
}

}  // namespace qv

qvCatalog* OpenAppCatalog(const char* name, uint32_t minVersion) {
    std::string language = qv::CatalogLanguage();
    if (language.empty()) return nullptr;
    for (const char* volume : {"PROGDIR:", "LOCALE:"}) {
        std::string path;
        if (qv::FindCatalogFile(volume, language.c_str(), name, &path)) {
            return qv::ReadCatalogFile(path.c_str(), minVersion);
        }
    }
    return nullptr;
}

const char* GetCatalogText(const qvCatalog* catalog, uint32_t id, const char* defaultText) {
    if (catalog == nullptr) return defaultText;
    const qv::CatalogEntry* entries = qv::Entries(catalog);
    for (uint32_t i = 0; i < catalog->count; ++i) {
        if (entries[i].id == id) return qv::Texts(catalog) + entries[i].offset;
    }
    return defaultText;
}

void FreeCatalog(qvCatalog* catalog) {
    FreeMemBlock(catalog);
}
