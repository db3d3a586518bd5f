#include "platform/linux/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/linux/wait.h"

namespace qv {
namespace {

// Linux errno → the BSD numbers that scripts compare and that the error texts key on.
constexpr std::array<std::pair<int, int>, 15> kErrnoMap = {{
    {EINTR, 4},
    {EACCES, 13},
    {EPIPE, 32},
    {EAGAIN, 35},
    {EINPROGRESS, 36},
    {EALREADY, 37},
    {EADDRINUSE, 48},
    {EADDRNOTAVAIL, 49},
    {ENETUNREACH, 51},
    {ECONNABORTED, 53},
    {ECONNRESET, 54},
    {EISCONN, 56},
    {ETIMEDOUT, 60},
    {ECONNREFUSED, 61},
    {EHOSTUNREACH, 65},
}};

constexpr int kDefaultTickMs = 20;
std::atomic<int> idleTickMs{kDefaultTickMs};

// Resolver statuses other than "host not found" carry the getaddrinfo code above this base.
constexpr int kResolverBase = 1000;

int ResolverStatus(int eai) {
    if (eai == EAI_NONAME || eai == EAI_NODATA) return kHostNotFound;
    return kResolverBase - eai;
}

}  // namespace

int BsdSocketError(int linuxErrno) {
    if (linuxErrno == EWOULDBLOCK) return 35;
    for (auto [linux, bsd] : kErrnoMap) {
        if (linux == linuxErrno) return bsd;
    }
    return linuxErrno;
}

int LastSocketError() {
    return BsdSocketError(errno);
}

const char* SocketErrorString(int bsdErrno) {
    for (auto [linux, bsd] : kErrnoMap) {
        if (bsd == bsdErrno) return std::strerror(linux);
    }
    return std::strerror(bsdErrno);
}

int PollDescriptor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, timeoutMs);
    return ready <= 0 ? ready : entry.revents;
}

void WaitIdleTick(int fd, short events) {
    WaitOnDescriptor(fd, events, idleTickMs.load(std::memory_order_relaxed));
}

void SetIdleTickMs(int ms) {
    idleTickMs.store(ms > 0 ? ms : kDefaultTickMs, std::memory_order_relaxed);
}

int ResolveName(const char* name, HostInfo* out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int eai = getaddrinfo(name, nullptr, &hints, &list);
    if (eai != 0) return ResolverStatus(eai);
    *out = HostInfo{};
    out->name = list->ai_canonname != nullptr ? list->ai_canonname : name;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t known : out->addresses) seen = seen || known == address;
        if (!seen) out->addresses.push_back(address);
    }
    freeaddrinfo(list);
    return 0;
}

int ResolveAddress(uint32_t address, HostInfo* out) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    const int eai = getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host,
                                sizeof host, nullptr, 0, NI_NAMEREQD);
    if (eai != 0) return ResolverStatus(eai);
    *out = HostInfo{host, {}, {address}};
    return 0;
}

const char* ResolverStatusText(int status) {
    if (status == kHostNotFound) return "host not found";
    if (status > kResolverBase) return gai_strerror(kResolverBase - status);
    return "unknown error";
}

bool ParseDottedAddress(const char* text, uint32_t* out) {
    in_addr address;
    if (inet_pton(AF_INET, text, &address) != 1) return false;
    *out = address.s_addr;
    return true;
}

std::string DottedAddress(uint32_t address) {
    char text[INET_ADDRSTRLEN];
    in_addr in{address};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

}  // namespace qv
