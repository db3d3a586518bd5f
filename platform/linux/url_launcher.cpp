#include "platform/linux/url_launcher.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

#include "engine/error_codes.h"

extern char** environ;

namespace qv {
namespace {

// The opener's file: a name with a "/" as it is, else the first executable of PATH.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return "";
        dirs.remove_prefix(colon + 1);
    }
}

}  // namespace
}  // namespace qv

int LaunchURL(const char* url, std::string* opener) {
    const char* configured = std::getenv("QV_URL_OPENER");
    *opener = configured != nullptr && *configured != '\0' ? configured : "xdg-open";
    std::string program = qv::FindProgram(*opener);
    if (program.empty()) return ERR_OPENLIB;
    std::string argument(url);
    char* argv[] = {opener->data(), argument.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        return ERR_OPENLIB;
    }
    // Reaped in the background, so that no zombie stays and the caller never waits.
    try {
        std::thread([child] {
            int status = 0;
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the finished opener stays a zombie until the player ends.
    }
    return 0;
}
