// URLs of the transfers: the escaped request target, parsing of "http://" and "ftp://" URLs
// (user:password@, ":port", ";type="), and redirect targets. URLs may come from downloaded
// data, so every part is checked before anything connects: control bytes and over-long
// parts are ERR_BADURL, never truncated.
#pragma once

#include <string>
#include <string_view>

namespace qv {

inline constexpr size_t kUrlPartMax = 1023;
inline constexpr size_t kLoginMax = 255;
// The anonymous login's password: 23 characters in the form of an address.
inline constexpr char kDefaultFtpPassword[] = "anonymous@quorvella.net";

enum class UrlScheme { Http, Ftp };

struct ParsedUrl {
    UrlScheme scheme = UrlScheme::Http;
    std::string host;  // where to connect (the proxy's host when there is one)
    int port = 80;
    std::string hostPart;  // the target's text between the scheme and the first "/"
    std::string path;      // from the first "/" ("/" when there is none); no ";type="
    std::string user = "anonymous";
    std::string password = kDefaultFtpPassword;
    char type = 0;  // 'i' or 'a' from ";type=", else 0
};

// The request target: bytes below 0x21, above 0x7A and the twelve characters
// " < > % \ ^ [ ] ` + $ , become "%" and two lower-case hex digits (a "%" is escaped again).
std::string EscapeUrl(std::string_view url);

// Parses url; proxy is "" or "http://host[:port]...". Returns 0, ERR_UNKPROTOCOL,
// ERR_BADURL or ERR_WRONGUSAGE (an HTTP upload, an FTP URL with a proxy, a proxy that is
// not "http://").
int ParseUrl(std::string_view url, bool upload, std::string_view proxy, ParsedUrl* out);

// The URL a Location leads to: an absolute one unchanged, one without a scheme resolved
// against current. ERR_BADURL when the Location is over 1023 characters.
int ResolveLocation(std::string_view current, std::string_view location, std::string* out);
// The request target of a redirect: only bytes below 0x21 and above 0x7E are escaped, so that
// the server's own escapes ("%20") stay as they are.
std::string EscapeLocation(std::string_view url);

}  // namespace qv
