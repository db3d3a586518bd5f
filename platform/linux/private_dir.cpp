#include "platform/linux/private_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace qv {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool EnsurePrivateDir(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (lstat(dir.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

std::string PrivateRuntimeDir(std::string_view name) {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (xdg != nullptr && xdg[0] == '/') {
        std::string base = std::string(xdg) + "/quorvella";
        if (!EnsurePrivateDir(base)) return "";
        dir = base + "/" + std::string(name);
    } else {
        dir = "/tmp/quorvella-" + std::string(name) + "-" + std::to_string(geteuid());
    }
    return EnsurePrivateDir(dir) ? dir : "";
}

bool ReplaceFile(const std::string& path, std::string_view bytes, int mode) {
    if (mode < 0) {
        struct stat info {};
        mode = stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : 0600;
    }
    std::string temp = path + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    bool written = WriteAll(fd, bytes) && fchmod(fd, static_cast<mode_t>(mode)) == 0;
    written = close(fd) == 0 && written;
    if (!written || rename(name.data(), path.c_str()) != 0) {
        unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace qv
