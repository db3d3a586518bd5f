#include "tests/support/servers.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace qv::testing {
namespace {

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string Local(int port, const std::string& path) {
    return "127.0.0.1:" + std::to_string(port) + path;
}

// Two free ports in a row for the passive data connections.
std::string PassivePorts() {
    const int low = FreeLoopbackPort();
    return std::to_string(low) + "-" + std::to_string(low + 1);
}

}  // namespace

NginxServer::NginxServer(const std::string& dir, const std::string& root)
    : accessLog_(dir + "/access.log") {
    const int port = FreeLoopbackPort();
    std::string chain;
    for (int i = 1; i <= 6; ++i) {
        chain += "        location = /c" + std::to_string(i) + " { return 302 " +
                 (i == 1 ? std::string("/files/one") : "/c" + std::to_string(i - 1)) + "; }\n";
    }
    for (const char* temp : {"body", "proxy", "fastcgi", "uwsgi", "scgi"})
        std::filesystem::create_directories(dir + "/" + temp);
    Write(dir + "/nginx.conf",
          std::string(geteuid() == 0 ? "user root;\n" : "") + "worker_processes 1;\npid " + dir +
              "/nginx.pid;\nerror_log " + dir +
              "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
              "    log_format hosts '$request $http_host';\n    access_log " +
              accessLog_ + " hosts;\n    client_body_temp_path " + dir +
              "/body;\n    proxy_temp_path " + dir + "/proxy;\n    fastcgi_temp_path " + dir +
              "/fastcgi;\n    uwsgi_temp_path " + dir + "/uwsgi;\n    scgi_temp_path " + dir +
              "/scgi;\n    default_type text/html;\n    server {\n        listen " +
              Local(port, "") + ";\n        root " + root + ";\n        absolute_redirect off;\n" +
              chain +
              "        location = /relative { return 302 /files/one; }\n"
              "        location /ssi/ { ssi on; }\n"
              "        location = /error { return 500 \"body\"; }\n"
              "        location = /nothing { return 204; }\n    }\n}\n");
    process_ = PeerProcess({"nginx", "-p", dir, "-c", dir + "/nginx.conf", "-g", "daemon off;"},
                           port, PeerProtocol::Tcp, dir + "/nginx.out");
}

std::string NginxServer::AccessLogWith(const std::string& text) const {
    std::string log;
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::ostringstream bytes;
        bytes << std::ifstream(accessLog_).rdbuf();
        log = bytes.str();
        if (log.find(text) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return log;
}

std::string NginxServer::url(const std::string& path) const {
    return "http://" + Local(port(), path);
}

TinyProxy::TinyProxy(const std::string& dir) {
    const int port = FreeLoopbackPort();
    Write(dir + "/tinyproxy.conf", "Port " + std::to_string(port) +
                                       "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
                                       "Allow 127.0.0.1\nLogLevel Error\n" +
                                       (geteuid() == 0 ? "User root\nGroup root\n" : ""));
    process_ = PeerProcess({"tinyproxy", "-d", "-c", dir + "/tinyproxy.conf"}, port,
                           PeerProtocol::Tcp, dir + "/tinyproxy.out");
}

PyFtpServer::PyFtpServer(const std::string& root, bool writable, const std::string& user,
                         const std::string& password) {
    std::vector<std::string> argv = {SystemPython(), "-m", "pyftpdlib", "-i", "127.0.0.1",   "-p",
                                     "{port}",       "-d", root,        "-r", PassivePorts()};
    if (writable) argv.push_back("-w");
    if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
    process_ = PeerProcess(std::move(argv), FreeLoopbackPort(), PeerProtocol::Tcp);
}

std::string PyFtpServer::url(const std::string& path, const std::string& login) const {
    return "ftp://" + login + Local(process_.port(), path);
}

Vsftpd::Vsftpd(const std::string& dir, const std::string& root) {
    const int port = FreeLoopbackPort();
    const int low = FreeLoopbackPort();
    std::filesystem::create_directories(dir + "/empty");
    Write(dir + "/vsftpd.conf",
          "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" +
              std::to_string(port) + "\nanonymous_enable=YES\nanon_root=" + root +
              "\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=NO\npasv_enable=YES\n"
              "pasv_min_port=" +
              std::to_string(low) + "\npasv_max_port=" + std::to_string(low + 1) +
              "\nbackground=NO\nseccomp_sandbox=NO\nrun_as_launching_user=YES\n"
              "secure_chroot_dir=" +
              dir + "/empty\nxferlog_enable=NO\n");
    process_ =
        PeerProcess({"vsftpd", dir + "/vsftpd.conf"}, port, PeerProtocol::Tcp, dir + "/vsftpd.out");
}

std::string Vsftpd::url(const std::string& path) const {
    return "ftp://" + Local(process_.port(), path);
}

}  // namespace qv::testing
