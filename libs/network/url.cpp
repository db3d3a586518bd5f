#include "libs/network/url.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/error_codes.h"

namespace qv {
namespace {

constexpr std::string_view kHttp = "http://", kFtp = "ftp://";
constexpr std::string_view kEscapedPunctuation = "\"<>%\\^[]`+$,";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

bool HasControlByte(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

void AppendEscaped(std::string& out, unsigned char c) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02x", c);
    out += hex;
}

// "user:password" before the last "@" of an FTP host part; both non-empty.
int ParseLogin(std::string_view login, ParsedUrl* out) {
    const size_t colon = login.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == login.size())
        return ERR_BADURL;
    out->user = login.substr(0, colon);
    out->password = login.substr(colon + 1);
    return out->user.size() > kLoginMax || out->password.size() > kLoginMax ? ERR_BADURL : 0;
}

// "host[:port]" into host and port (the default stays without a colon).
int ParseHostPort(std::string_view text, std::string* host, int* port) {
    const size_t colon = text.find(':');
    *host = text.substr(0, colon);
    if (host->empty()) return ERR_BADURL;
    if (colon == std::string_view::npos) return 0;
    std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0]))) return ERR_BADURL;
    long value = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)) ||
            (value = value * 10 + (c - '0')) > 65535)
            return ERR_BADURL;
    }
    if (value == 0) return ERR_BADURL;
    *port = int(value);
    return 0;
}

// Splits "scheme://hostpart/path" after the scheme.
void SplitHostPath(std::string_view rest, std::string_view* hostPart, std::string_view* path) {
    const size_t slash = rest.find('/');
    *hostPart = rest.substr(0, slash);
    *path = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
}

// A ";type=X" suffix of an FTP path (longer than 7 characters) sets the transfer type.
int CutTypeSuffix(std::string* path, char* type) {
    constexpr std::string_view kSuffix = ";type=";
    if (path->size() <= 7) return 0;
    const std::string_view tail = std::string_view(*path).substr(path->size() - 7);
    if (!StartsWithNoCase(tail, kSuffix)) return 0;
    const char letter = char(std::tolower(static_cast<unsigned char>(tail[6])));
    if (letter != 'i' && letter != 'a') return ERR_BADURL;
    *type = letter;
    path->resize(path->size() - 7);
    return 0;
}

}  // namespace

std::string EscapeUrl(std::string_view url) {
    std::string out;
    out.reserve(url.size());
    for (unsigned char c : url) {
        if (c < 0x21 || c > 0x7A || kEscapedPunctuation.find(char(c)) != std::string_view::npos)
            AppendEscaped(out, c);
        else
            out += char(c);
    }
    return out;
}

int ParseUrl(std::string_view url, bool upload, std::string_view proxy, ParsedUrl* out) {
    *out = ParsedUrl{};
    const bool http = StartsWithNoCase(url, kHttp);
    if (!http && !StartsWithNoCase(url, kFtp)) return ERR_UNKPROTOCOL;
    out->scheme = http ? UrlScheme::Http : UrlScheme::Ftp;
    out->port = http ? 80 : 21;
    if (http && upload) return ERR_WRONGUSAGE;
    if (!proxy.empty() && (!http || !StartsWithNoCase(proxy, kHttp))) return ERR_WRONGUSAGE;
    if (EscapeUrl(url).size() > kUrlPartMax) return ERR_BADURL;
    std::string_view hostPart, path;
    SplitHostPath(url.substr(http ? kHttp.size() : kFtp.size()), &hostPart, &path);
    if (hostPart.size() > kUrlPartMax || path.size() > kUrlPartMax) return ERR_BADURL;
    // A host name and an FTP command line cannot carry control bytes; an HTTP request target
    // is escaped.
    if (HasControlByte(hostPart) || (!http && HasControlByte(path))) return ERR_BADURL;
    out->hostPart = hostPart;
    out->path = path;
    if (!http) {
        if (const int code = CutTypeSuffix(&out->path, &out->type)) return code;
    }
    // Through a proxy the connection goes to the proxy's host; the target's host part only
    // names the site in the Host header.
    if (!proxy.empty()) {
        std::string_view proxyPath;
        SplitHostPath(proxy.substr(kHttp.size()), &hostPart, &proxyPath);
        if (HasControlByte(hostPart)) return ERR_BADURL;
        out->port = 80;
    }
    if (const size_t at = hostPart.rfind('@'); at != std::string_view::npos) {
        if (http) return ERR_BADURL;
        if (const int code = ParseLogin(hostPart.substr(0, at), out)) return code;
        hostPart = hostPart.substr(at + 1);
    }
    return ParseHostPort(hostPart, &out->host, &out->port);
}

std::string EscapeLocation(std::string_view url) {
    std::string out;
    for (unsigned char c : url) {
        if (c < 0x21 || c > 0x7E)
            AppendEscaped(out, c);
        else
            out += char(c);
    }
    return out;
}

int ResolveLocation(std::string_view current, std::string_view location, std::string* out) {
    if (location.size() > kUrlPartMax) return ERR_BADURL;
    const size_t schemeEnd = location.find("://");
    if (schemeEnd != std::string_view::npos && schemeEnd < location.find('/')) {
        *out = location;
        return 0;
    }
    const size_t hostStart = current.find("://") + 3;
    const size_t pathStart = std::min(current.find('/', hostStart), current.size());
    std::string base(current.substr(0, pathStart));
    if (location.empty() || location[0] != '/') {
        const size_t lastSlash = current.rfind('/');
        base = lastSlash >= pathStart && lastSlash != std::string_view::npos
                   ? std::string(current.substr(0, lastSlash + 1))
                   : base + "/";
    }
    *out = base + std::string(location);
    return out->size() > kUrlPartMax ? ERR_BADURL : 0;
}

}  // namespace qv
