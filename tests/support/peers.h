// Peer processes for the network tests: a program (socat, nc, a Python script, a server)
// started on a free 127.0.0.1 port, waited for until its socket is bound, and stopped with
// its whole process group at the end of its scope. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv::testing {

enum class PeerProtocol { Tcp, Udp };

// A port that nothing on 127.0.0.1 uses at the moment of the call.
int FreeLoopbackPort(PeerProtocol protocol = PeerProtocol::Tcp);

// Whether a socket of that protocol is bound (TCP: listening) on the port, from /proc/net.
bool PortBound(int port, PeerProtocol protocol);

class PeerProcess {
public:
    PeerProcess() = default;
    // Starts argv with "{port}" in any argument replaced by the port, its output into log
    // (or /dev/null), and waits up to readyMs for the port to be bound. running() tells
    // whether that happened.
    PeerProcess(std::vector<std::string> argv, int port, PeerProtocol protocol,
                const std::string& log = "", int readyMs = 5000);
    // A peer on a fresh free port.
    PeerProcess(std::vector<std::string> argv, PeerProtocol protocol = PeerProtocol::Tcp);
    ~PeerProcess();
    PeerProcess(PeerProcess&& other) noexcept;
    PeerProcess& operator=(PeerProcess&& other) noexcept;

    bool running() const { return ready_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Waits up to ms for the peer to end by itself; true when it did (exit status in *status).
    bool WaitExit(int ms, int* status = nullptr);
    // Stops the process group: SIGTERM, then SIGKILL after a bounded wait.
    void Stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
};

// The Python 3 interpreter of the system, for peer scripts.
const char* SystemPython();

}  // namespace qv::testing
