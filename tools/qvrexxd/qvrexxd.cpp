// qvrexxd: serves the ARexx port "REXX". A command (action 0x01020000) names a script file,
// optionally followed by a space and its argument string; a script message (0x01060000)
// carries the script text. Either runs with Regina's rexx (QV_REXX_INTERPRETER overrides
// it); the reply's rc1 is the exit status, rc2 is 0, and the result is the standard output
// without its final line break. Scripts run one after the other.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/rexx_ports.h"

extern char** environ;

namespace {

constexpr uint32_t kScriptText = qv::kRexxScript & ~qv::kRexxCommand;

struct Outcome {
    int status = 0;
    std::string output;
};

// A script text in a temporary file, removed again.
class TempScript {
public:
    explicit TempScript(const std::string& text) {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qvrexxd-XXXXXX";
        int fd = mkstemp(path_.data());
        if (fd < 0) {
            path_.clear();
            return;
        }
        bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) {
            unlink(path_.c_str());
            path_.clear();
        }
    }
    ~TempScript() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string ReadAll(int fd) {
    std::string output;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (output.size() < qv::kMaxRexxArgument) output.append(chunk, static_cast<size_t>(n));
    }
    if (output.size() > qv::kMaxRexxArgument) output.resize(qv::kMaxRexxArgument);
    return output;
}

Outcome Run(std::vector<std::string> words) {
    const char* interpreter = std::getenv("QV_REXX_INTERPRETER");
    words.insert(words.begin(), interpreter != nullptr ? interpreter : "rexx");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {-1, ""};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t child = 0;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    Outcome outcome;
    outcome.output = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
    if (spawned != 0) return {-1, ""};
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!outcome.output.empty() && outcome.output.back() == '\n') outcome.output.pop_back();
    return outcome;
}

Outcome Serve(const qv::RexxMessage& message) {
    if (message.action & kScriptText) {
        TempScript script(message.argument);
        if (script.Path().empty()) return {-1, ""};
        return Run({script.Path()});
    }
    size_t space = message.argument.find(' ');
    if (space == std::string::npos) return Run({message.argument});
    return Run({message.argument.substr(0, space), message.argument.substr(space + 1)});
}

}  // namespace

int main() {
    std::unique_ptr<qv::RexxPort> port;
    if (qv::RexxPort::Create("REXX", &port) != 0) {
        std::fprintf(stderr, "qvrexxd: cannot open the port \"REXX\"\n");
        return 20;
    }
    while (true) {
        std::vector<pollfd> fds;
        for (int fd : port->Descriptors()) fds.push_back({fd, POLLIN, 0});
        poll(fds.data(), fds.size(), -1);
        port->Receive();
        while (std::unique_ptr<qv::RexxMessage> message = port->Next()) {
            Outcome outcome = Serve(*message);
            qv::RexxPort::Reply(std::move(message), outcome.output, outcome.status, 0);
        }
    }
}
