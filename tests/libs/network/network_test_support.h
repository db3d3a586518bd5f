// The library fixture with the network library, and loopback peers run on threads of the
// test: every peer binds 127.0.0.1 on a free port and stops by itself.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "libs/network/network_library.h"
#include "platform/linux/sockets.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {

inline void OpenNetworkLibrary(qvVmState* L) {
    if (const int code = RegisterNetworkLibrary(L)) RaiseError(L, code);
}

class NetworkLib : public LibFixture {
protected:
    NetworkLib() : LibFixture(OpenNetworkLibrary) {
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

}  // namespace qv::testing
