#include "platform/linux/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"

extern char** environ;

namespace qv {
namespace {

// The name as one word of the shell: in single quotes, a quote itself written as '\''.
std::string ShellQuoted(const char* name) {
    std::string out = "'";
    for (const char* c = name; *c != '\0'; ++c)
        out += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
    return out + "'";
}

int WaitFor(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

// A detached run: the child starts a session of its own and forks the program, then ends at
// once, so that the program is adopted by init and leaves no zombie; only async-signal-safe
// calls happen after the fork.
int RunDetached(char* const argv[]) {
    pid_t child = fork();
    if (child < 0) return ERR_MEM;
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, 0);
                dup2(null, 1);
                dup2(null, 2);
            }
            execve("/bin/sh", argv, environ);
            _exit(127);
        }
        _exit(0);
    }
    WaitFor(child);
    return 0;
}

}  // namespace
}  // namespace qv

int RunProgram(const char* program, const char* arguments, int asynchronous) {
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        std::string line = qv::ShellQuoted(program);
        if (arguments != nullptr) line += std::string(" ") + arguments;
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), line.data(), nullptr};
        if (asynchronous) return qv::RunDetached(argv);
        pid_t pid;
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return ERR_MEM;
        qv::WaitFor(pid);
        return 0;
    });
}
