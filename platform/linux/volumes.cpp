#include "platform/linux/volumes.h"

#include <sys/statvfs.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/paths.h"

namespace qv {
namespace {

// The canonical host path of an existing object, or "".
std::string CanonicalPath(const char* path) {
    std::string host;
    if (!ResolvePath(path, LeafLookup::kFold, &host)) return "";
    char* canonical = realpath(host.c_str(), nullptr);
    if (canonical == nullptr) return "";
    std::string out(canonical);
    std::free(canonical);
    return out;
}

// mountinfo writes blanks, tabs, newlines and backslashes as three octal digits.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool Contains(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return true;
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The longest mount point that holds path; the later of equal ones (it is mounted on top).
std::string MountPointOf(const std::string& path) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line, best = "/";
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
        mountPoint = Unescape(mountPoint);
        if (Contains(mountPoint, path) && mountPoint.size() >= best.size()) best = mountPoint;
    }
    return best;
}

}  // namespace
}  // namespace qv

int QueryVolumeName(const char* path, char* out, size_t size) {
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        std::string canonical = qv::CanonicalPath(path);
        if (canonical.empty()) return ERR_LOCK;
        std::string mount = qv::MountPointOf(canonical);
        std::string name = mount == "/" ? "SYS" : mount.substr(mount.rfind('/') + 1);
        if (name.size() >= size) name.resize(size - 1);
        std::memcpy(out, name.c_str(), name.size() + 1);
        return 0;
    });
}

int QueryVolumeInfo(const char* path, int64_t* freeBytes, int64_t* usedBytes) {
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        std::string host;
        struct statvfs vfs;
        if (!qv::ResolvePath(path, qv::LeafLookup::kFold, &host) ||
            statvfs(host.c_str(), &vfs) != 0) {
            return ERR_LOCK;
        }
        *freeBytes = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
        *usedBytes =
            static_cast<int64_t>(vfs.f_blocks - vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
        return 0;
    });
}
