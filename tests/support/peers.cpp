#include "tests/support/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace qv::testing {
namespace {

constexpr int kStepMs = 10;
constexpr int kTermWaitMs = 3000;

void Sleep(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string WithPort(std::string arg, int port) {
    const std::string key = "{port}";
    for (size_t at; (at = arg.find(key)) != std::string::npos;)
        arg.replace(at, key.size(), std::to_string(port));
    return arg;
}

// /proc/net/{tcp,udp} rows: "sl local_address rem_address st ...", the address as
// HEXIP:HEXPORT. A TCP listener has state 0A; a bound UDP socket state 07.
bool ProcListsPort(const char* table, int port, const char* state) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string slot, local, remote, st;
        row >> slot >> local >> remote >> st;
        const size_t colon = local.find(':');
        if (colon == std::string::npos) continue;
        if (std::stoi(local.substr(colon + 1), nullptr, 16) == port && st == state) return true;
    }
    return false;
}

}  // namespace

int FreeLoopbackPort(PeerProtocol protocol) {
    const int fd = socket(AF_INET, protocol == PeerProtocol::Tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool PortBound(int port, PeerProtocol protocol) {
    return protocol == PeerProtocol::Tcp ? ProcListsPort("/proc/net/tcp", port, "0A")
                                         : ProcListsPort("/proc/net/udp", port, "07");
}

const char* SystemPython() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

PeerProcess::PeerProcess(std::vector<std::string> argv, int port, PeerProtocol protocol,
                         const std::string& log, int readyMs)
    : port_(port) {
    std::vector<char*> args;
    for (std::string& a : argv) {
        a = WithPort(a, port);
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const char* out = log.empty() ? "/dev/null" : log.c_str();
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int waited = 0; pid_ > 0 && waited < readyMs; waited += kStepMs) {
        if (PortBound(port, protocol)) {
            ready_ = true;
            break;
        }
        if (WaitExit(0)) break;
        Sleep(kStepMs);
    }
}

PeerProcess::PeerProcess(std::vector<std::string> argv, PeerProtocol protocol)
    : PeerProcess(std::move(argv), FreeLoopbackPort(protocol), protocol) {}

PeerProcess::~PeerProcess() {
    Stop();
}

PeerProcess::PeerProcess(PeerProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), port_(other.port_), ready_(other.ready_) {}

PeerProcess& PeerProcess::operator=(PeerProcess&& other) noexcept {
    if (this != &other) {
        Stop();
        pid_ = std::exchange(other.pid_, -1);
        port_ = other.port_;
        ready_ = other.ready_;
    }
    return *this;
}

bool PeerProcess::WaitExit(int ms, int* status) {
    if (pid_ <= 0) return true;
    for (int waited = 0;; waited += kStepMs) {
        int s = 0;
        if (waitpid(pid_, &s, WNOHANG) == pid_) {
            if (status != nullptr) *status = s;
            kill(-pid_, SIGKILL);  // what the peer left behind in its group
            pid_ = -1;
            ready_ = false;
            return true;
        }
        if (waited >= ms) return false;
        Sleep(kStepMs);
    }
}

void PeerProcess::Stop() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGTERM);
    if (WaitExit(kTermWaitMs)) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    ready_ = false;
}

}  // namespace qv::testing
