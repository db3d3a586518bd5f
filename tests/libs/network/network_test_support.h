// The library fixture with the network library, loopback peers run on threads of the test,
// and peer processes (socat, nc, the Python peers): every peer binds 127.0.0.1 on a free port
// and stops by itself.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "libs/network/network_library.h"
#include "platform/linux/sockets.h"
#include "tests/support/lib_fixture.h"
#include "tests/support/peers.h"

namespace qv::testing {

inline constexpr LibraryOpener OpenNetworkLibrary = OpenLibraries<RegisterNetworkLibrary>;

class NetworkLib : public LibFixture {
protected:
    explicit NetworkLib(LibraryOpener opener = OpenNetworkLibrary) : LibFixture(opener) {
        SetIdleTickMs(2);
        NetworkTimeoutMs() = 2000;
    }
    ~NetworkLib() override {
        ShutdownNetwork(L);
        NetworkTimeoutMs() = 10000;
        SetIdleTickMs(0);
    }
};

// A socket descriptor closed at the end of its scope.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

inline sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline int PortOf(int fd) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A bound socket of type on a free loopback port (listening for streams).
inline Fd BoundSocket(int type, int backlog = 8) {
    Fd fd(socket(AF_INET, type, 0));
    const sockaddr_in a = Loopback(0);
    bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (type == SOCK_STREAM) listen(fd.get(), backlog);
    return fd;
}

// A TCP peer that accepts one client and runs serve on it, then closes it.
template <typename Serve>
class TcpPeer {
public:
    explicit TcpPeer(Serve serve)
        : listener_(BoundSocket(SOCK_STREAM)), port_(PortOf(listener_.get())) {
        thread_ = std::thread([this, serve] {
            Fd client(accept(listener_.get(), nullptr, nullptr));
            if (client.get() >= 0) serve(client.get());
        });
    }
    ~TcpPeer() {
        shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
    }
    int port() const { return port_; }

private:
    Fd listener_;
    int port_;
    std::thread thread_;
};

inline void SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += size_t(n);
    }
}

// Echoes until the client closes.
inline void Echo(int fd) {
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
        SendAll(fd, std::string(buffer, size_t(n)));
}

// The command line of a mode of the Python peer script (tests/libs/network/peers/peer.py).
inline std::vector<std::string> PythonPeer(const std::string& mode,
                                           const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {SystemPython(),
                                     (SourceDir() / "tests/libs/network/peers/peer.py").string(),
                                     mode, "{port}"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// The socat echo peers: TCP with a "cat" per connection, UDP answering each datagram.
inline std::vector<std::string> SocatTcpEcho() {
    return {"socat", "TCP4-LISTEN:{port},bind=127.0.0.1,reuseaddr,fork", "EXEC:cat"};
}
inline std::vector<std::string> SocatUdpEcho() {
    return {"socat", "UDP4-RECVFROM:{port},bind=127.0.0.1,fork", "EXEC:cat"};
}

// A listener whose accept queue is full and never accepted: a further connect stays pending.
// The connections that filled it are kept open beside it.
struct FullListener {
    Fd listener;
    std::vector<Fd> fillers;
    int port = 0;
};

inline FullListener FillBacklog() {
    FullListener full{BoundSocket(SOCK_STREAM, 0), {}, 0};
    full.port = PortOf(full.listener.get());
    const sockaddr_in to = Loopback(full.port);
    for (int i = 0; i < 64; ++i) {
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
        const bool connected = PollDescriptor(fd.get(), POLLOUT, 200) > 0;
        full.fillers.push_back(std::move(fd));
        if (!connected) break;
    }
    return full;
}

}  // namespace qv::testing
