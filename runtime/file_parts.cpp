#include "runtime/file_parts.h"

#include <algorithm>
#include <cstring>

namespace qv {

bool IsChunkPath(std::string_view path) {
    return path.starts_with(":::chunk");
}

bool VirtualFileName(std::string_view path, std::string_view* name) {
    if (!IsChunkPath(path)) return false;
    size_t star = path.find('*');
    size_t slash = path.find('/', star);
    if (star == std::string_view::npos || slash == std::string_view::npos) return false;
    *name = path.substr(star + 1, slash - star - 1);
    return true;
}

}  // namespace qv

const char* FilePartEx(const char* path) {
    static char virtualName[1024];
    std::string_view name;
    if (qv::VirtualFileName(path, &name)) {
        size_t n = std::min(name.size(), sizeof virtualName - 1);
        std::memcpy(virtualName, name.data(), n);
        virtualName[n] = '\0';
        return virtualName;
    }
    std::string_view text(path);
    size_t cut = text.find_last_of("/\\");
    if (cut == std::string_view::npos) cut = text.find(':');
    return cut == std::string_view::npos ? path : path + cut + 1;
}

const char* PathFilePart(const char* path) {
    while (*path == '/') ++path;
    size_t cut = std::string_view(path).find_last_of("/\\:");
    return cut == std::string_view::npos ? path : path + cut + 1;
}
