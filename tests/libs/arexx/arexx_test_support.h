// The library fixture with the arexx library, ports in a private directory, and peers in
// other processes: Python SOCK_SEQPACKET servers and the tools.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "libs/arexx/arexx_library.h"
#include "libs/string/string_library.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_slots.h"
#include "tests/support/lib_fixture.h"

extern char** environ;

namespace qv::testing {

// Polls cond every 10 ms, at most about ten seconds, so that a broken peer fails the test
// instead of hanging it.
inline bool WaitFor(const std::function<bool()>& cond) {
    for (int i = 0; i < 1000; ++i) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return cond();
}

// A child process, with its standard output on a pipe; killed and reaped at the end.
class Child {
public:
    explicit Child(std::vector<std::string> argv) {
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, &status_, 0);
        }
        if (out_ >= 0) close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    // Whether it has ended (without waiting); its status is then Status().
    bool Ended() {
        if (!done_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) done_ = true;
        return done_;
    }
    int ExitCode() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
    std::string Output() {
        std::string text;
        char chunk[4096];
        ssize_t n;
        while ((n = read(out_, chunk, sizeof chunk)) > 0) text.append(chunk, size_t(n));
        return text;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool done_ = false;
};

// A Python peer port. Modes: "echo" replies rc 0 and "<action in hex>:<argument>"; "error"
// replies rc1 10, rc2 5; "die" closes without replying; "silent" never replies; "record"
// appends each argument and a line break to <socket>.log; "callback" first sends
// "back <argument>" to the port ME and replies with what came back.
inline const char* kPythonPeer = R"(
import os, socket, struct, sys
path, mode, me = sys.argv[1], sys.argv[2], sys.argv[3]
server = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
server.bind(path)
server.listen(8)
open(path + '.ready', 'w').close()
kept = []
while True:
    conn, _ = server.accept()
    data = conn.recv(1 << 21)
    if len(data) < 4:
        conn.close()
        continue
    action = struct.unpack('<I', data[:4])[0]
    arg = data[4:]
    if mode == 'echo':
        conn.send(struct.pack('<ii', 0, 0) + b'%08x:' % action + arg)
    elif mode == 'error':
        conn.send(struct.pack('<ii', 10, 5))
    elif mode == 'die':
        conn.close()
    elif mode == 'silent':
        kept.append(conn)
    elif mode == 'record':
        with open(path + '.log', 'ab') as log:
            log.write(b'%08x:' % action + arg + b'\n')
        conn.close()
    elif mode == 'callback':
        back = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        back.connect(me)
        back.send(struct.pack('<I', 0x01020000) + b'back ' + arg)
        reply = back.recv(1 << 21)
        conn.send(struct.pack('<ii', 0, 0) + reply[8:])
)";

// The event library's "onarexx" slot, which tests fill directly.
inline qvEventHandler& OnARexxSlot() {
    return events::GlobalEventSlots()[events::kOnARexx];
}

class ARexxLib : public LibFixture {
protected:
    ARexxLib()
        : LibFixture(OpenLibraries<RegisterStringLibrary, RegisterARexxLibrary>),
          dirEnv_("QV_REXX_DIR", dir_.path()) {}
    ~ARexxLib() override {
        CloseRexxPort(L);
        events::ResetGlobalEventSlots(nullptr);
        peers_.clear();
    }

    // A "REXX" port that only has to exist.
    void OpenRexxServer() { ASSERT_EQ(RexxPort::Create("REXX", &rexx_), 0); }
    std::string SocketOf(const std::string& port) const {
        return RexxSocketPath(dir_.path(), port);
    }

    // Starts a Python peer port and waits until it listens.
    void StartPeer(const std::string& port, const std::string& mode) {
        QV_REQUIRE_TOOL("python3");
        std::string socket = SocketOf(port);
        peers_.push_back(std::make_unique<Child>(
            std::vector<std::string>{"python3", "-c", kPythonPeer, socket, mode, SocketOf("ME")}));
        ASSERT_TRUE(WaitFor([&] { return access((socket + ".ready").c_str(), F_OK) == 0; }));
    }

    // Puts a native function into the "onarexx" slot.
    void SetHandler(NativeFunction f) {
        PushArg(Native(std::move(f)));
        OnARexxSlot().function = MakeRef(L, VM_REGISTRYINDEX);
    }

    ScratchDir dir_;

private:
    ScopedEnv dirEnv_;
    std::unique_ptr<RexxPort> rexx_;
    std::vector<std::unique_ptr<Child>> peers_;
};

}  // namespace qv::testing
