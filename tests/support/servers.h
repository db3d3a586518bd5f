// Real servers for the transfer tests, each started on free 127.0.0.1 ports with a generated
// configuration in a directory of the test and stopped at the end of its scope: nginx,
// tinyproxy, pyftpdlib and vsftpd (the Debian packages).
#pragma once

#include <string>

#include "tests/support/peers.h"

namespace qv::testing {

// nginx serving root: static files, "/c1" .. "/c6" a chain of 302 redirects ending at
// "/files/one", "/relative" a 302 to "/files/one" as a relative Location, "/ssi/" with ssi on
// (chunked bodies), "/error" a 500 with the body "body", "/nothing" a 204. Its access log,
// accessLog(), has one line per request: the request line and the Host header.
class NginxServer {
public:
    NginxServer(const std::string& dir, const std::string& root);
    bool running() const { return process_.running(); }
    int port() const { return process_.port(); }
    std::string url(const std::string& path) const;
    // The access log once it holds text: nginx writes a request's line only after the reply
    // has gone out, so a client may finish first. Gives up after some seconds.
    std::string AccessLogWith(const std::string& text) const;

private:
    std::string accessLog_;
    PeerProcess process_;
};

// tinyproxy in the foreground, allowing 127.0.0.1.
class TinyProxy {
public:
    explicit TinyProxy(const std::string& dir);
    bool running() const { return process_.running(); }
    int port() const { return process_.port(); }

private:
    PeerProcess process_;
};

// pyftpdlib over root: anonymous (writable when writable), or with a user and password.
class PyFtpServer {
public:
    PyFtpServer(const std::string& root, bool writable, const std::string& user = "",
                const std::string& password = "");
    bool running() const { return process_.running(); }
    std::string url(const std::string& path, const std::string& login = "") const;

private:
    PeerProcess process_;
};

// vsftpd with anonymous downloads. It runs as the launching user, without a chroot, so the
// paths of its URLs are absolute paths of this machine.
class Vsftpd {
public:
    Vsftpd(const std::string& dir, const std::string& root);
    bool running() const { return process_.running(); }
    std::string url(const std::string& path) const;

private:
    PeerProcess process_;
};

}  // namespace qv::testing
