#include "platform/linux/rexx_ports.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/private_dir.h"

namespace qv {
namespace {

constexpr size_t kHeaderSize = 4;
constexpr size_t kReplyHeaderSize = 8;
// Room for the largest message in one packet, where the system allows it.
constexpr int kSocketBuffer = static_cast<int>(kMaxRexxArgument) + 65536;

void PutLE32(std::string* out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

uint32_t GetLE32(std::span<const uint8_t> bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

bool MakeAddress(std::string_view port, sockaddr_un* address) {
    std::string dir = RexxDirectory();
    if (dir.empty()) return false;
    std::string path = RexxSocketPath(dir, port);
    if (path.size() >= sizeof address->sun_path) return false;
    *address = {};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

Descriptor NewSocket() {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    }
    return Descriptor(fd);
}

// Connects to the port's socket; ECONNREFUSED and ENOENT mean that nobody listens.
Descriptor Connect(std::string_view port, int* error) {
    sockaddr_un address;
    Descriptor fd;
    *error = ENOENT;
    if (!MakeAddress(port, &address) || (fd = NewSocket()).Get() < 0) return Descriptor();
    int result;
    while ((result = connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address)) !=
               0 &&
           errno == EINTR) {
    }
    *error = result == 0 ? 0 : errno;
    return result == 0 ? std::move(fd) : Descriptor();
}

bool SendPacket(int fd, const std::string& packet) {
    ssize_t sent;
    while ((sent = send(fd, packet.data(), packet.size(), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == static_cast<ssize_t>(packet.size());
}

// Reads one waiting packet: its size (0 at the end of the connection), -1 when none waits,
// -2 when it is larger than limit (it is then discarded).
ssize_t ReceivePacket(int fd, size_t limit, std::string* packet) {
    ssize_t size;
    while ((size = recv(fd, nullptr, 0, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT)) < 0 &&
           errno == EINTR) {
    }
    if (size < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    if (size == 0) return 0;  // the end, or an empty packet, which no peer of ours sends
    if (static_cast<size_t>(size) > limit) {
        recv(fd, nullptr, 0, MSG_DONTWAIT | MSG_TRUNC);
        return -2;
    }
    packet->resize(static_cast<size_t>(size));
    return recv(fd, packet->data(), packet->size(), MSG_DONTWAIT);
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0) close(fd_);
}

int Descriptor::Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

std::string RexxDirectory() {
    const char* configured = std::getenv("QV_REXX_DIR");
    if (configured != nullptr && *configured != '\0') return configured;
    return PrivateRuntimeDir("rexx");
}

std::string RexxSocketPath(const std::string& dir, std::string_view port) {
    std::string plain = dir + "/" + std::string(port);
    bool usable = !port.empty() && port != "." && port != ".." && port.front() != '#' &&
                  port.find('/') == std::string_view::npos &&
                  port.find('\0') == std::string_view::npos &&
                  plain.size() < sizeof(sockaddr_un::sun_path);
    if (usable) return plain;
    char hashed[24];
    std::snprintf(hashed, sizeof hashed, "#%016llx", static_cast<unsigned long long>(Fnv1a(port)));
    return dir + "/" + hashed;
}

std::string EncodeRexxMessage(uint32_t action, std::string_view argument) {
    std::string packet;
    packet.reserve(kHeaderSize + argument.size());
    PutLE32(&packet, action);
    packet.append(argument);
    return packet;
}

bool DecodeRexxMessage(std::span<const uint8_t> packet, uint32_t* action, std::string* argument) {
    if (packet.size() < kHeaderSize || packet.size() - kHeaderSize > kMaxRexxArgument) {
        return false;
    }
    *action = GetLE32(packet, 0);
    argument->assign(reinterpret_cast<const char*>(packet.data()) + kHeaderSize,
                     packet.size() - kHeaderSize);
    return true;
}

std::string EncodeRexxReply(int32_t rc1, int32_t rc2, std::string_view result) {
    std::string packet;
    PutLE32(&packet, static_cast<uint32_t>(rc1));
    PutLE32(&packet, static_cast<uint32_t>(rc2));
    packet.append(result);
    return packet;
}

bool DecodeRexxReply(std::span<const uint8_t> packet, int32_t* rc1, int32_t* rc2,
                     std::string* result) {
    if (packet.size() < kReplyHeaderSize) return false;
    *rc1 = static_cast<int32_t>(GetLE32(packet, 0));
    *rc2 = static_cast<int32_t>(GetLE32(packet, 4));
    result->assign(reinterpret_cast<const char*>(packet.data()) + kReplyHeaderSize,
                   packet.size() - kReplyHeaderSize);
    return true;
}

bool RexxConnection::Open(std::string_view port) {
    int error = 0;
    fd_ = Connect(port, &error);
    return fd_.Get() >= 0;
}

bool RexxConnection::Send(uint32_t action, std::string_view argument) {
    return argument.size() <= kMaxRexxArgument &&
           SendPacket(fd_.Get(), EncodeRexxMessage(action, argument));
}

RexxConnection::Reply RexxConnection::TakeReply(int32_t* rc1, int32_t* rc2, std::string* result) {
    std::string packet;
    ssize_t size = ReceivePacket(fd_.Get(), kReplyHeaderSize + kMaxRexxArgument, &packet);
    if (size == -1) return Reply::kPending;
    if (size <= 0 || !DecodeRexxReply(Bytes(packet), rc1, rc2, result)) return Reply::kClosed;
    return Reply::kArrived;
}

bool RexxPortExists(std::string_view port) {
    int error = 0;
    return Connect(port, &error).Get() >= 0;
}

int RexxPort::Create(std::string_view name, std::unique_ptr<RexxPort>* out) {
    int error = 0;
    if (Connect(name, &error).Get() >= 0) return ERR_PORTNOTAVAIL;
    sockaddr_un address;
    std::unique_ptr<RexxPort> port(new RexxPort);
    port->listener_ = NewSocket();
    if (!MakeAddress(name, &address) || port->listener_.Get() < 0) return ERR_CREATEPORT;
    if (error == ECONNREFUSED) unlink(address.sun_path);  // a stale socket of a dead program
    int fd = port->listener_.Get();
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return errno == EADDRINUSE ? ERR_PORTNOTAVAIL : ERR_CREATEPORT;
    }
    port->path_ = address.sun_path;
    port->name_.assign(name);
    if (listen(fd, SOMAXCONN) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0) return ERR_CREATEPORT;
    *out = std::move(port);
    return 0;
}

RexxPort::~RexxPort() {
    Receive();
    while (std::unique_ptr<RexxMessage> message = Next()) Reply(std::move(message), "");
    if (!path_.empty()) unlink(path_.c_str());
}

void RexxPort::Receive() {
    int fd;
    while ((fd = accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        pending_.emplace_back(fd);
    }
    for (size_t i = 0; i < pending_.size();) {
        std::string packet;
        ssize_t size = ReceivePacket(pending_[i].Get(), kHeaderSize + kMaxRexxArgument, &packet);
        if (size == -1) {
            ++i;
            continue;
        }
        auto message = std::make_unique<RexxMessage>();
        if (size > 0 && DecodeRexxMessage(Bytes(packet), &message->action, &message->argument)) {
            message->connection = std::move(pending_[i]);
            queue_.push_back(std::move(message));
        }
        pending_.erase(pending_.begin() + static_cast<ptrdiff_t>(i));
    }
}

std::unique_ptr<RexxMessage> RexxPort::Next() {
    if (queue_.empty()) return nullptr;
    std::unique_ptr<RexxMessage> message = std::move(queue_.front());
    queue_.pop_front();
    return message;
}

void RexxPort::Reply(std::unique_ptr<RexxMessage> message, std::string_view result, int32_t rc1,
                     int32_t rc2) {
    if (message->action & kRexxNonReturn) return;
    bool wantsResult = (message->action & kRexxResult) != 0;
    SendPacket(message->connection.Get(), EncodeRexxReply(rc1, rc2, wantsResult ? result : ""));
}

std::vector<int> RexxPort::Descriptors() const {
    std::vector<int> fds{listener_.Get()};
    for (const Descriptor& d : pending_) fds.push_back(d.Get());
    return fds;
}

}  // namespace qv
