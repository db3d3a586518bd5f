// The ";!" lines of a listing and the comparison of a run with them.
#include <charconv>

#include "engine/testsupport/listing.h"

namespace qv {
namespace {

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool ParseInt(std::string_view s, int* out) {
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

// One ";!" line without its marker: a keyword, one blank and its argument.
std::string ParseLine(std::string_view line, ListingExpectations* e) {
    line = TrimLeft(line);
    size_t blank = line.find_first_of(" \t");
    std::string_view keyword = line.substr(0, blank);
    std::string_view argument = blank == std::string_view::npos ? "" : line.substr(blank + 1);
    if (keyword == "log") {
        e->log.emplace_back(TrimRight(argument));
        return "";
    }
    argument = TrimRight(TrimLeft(argument));
    int n = 0;
    if (keyword == "status") return ParseInt(argument, &e->status) ? "" : "status needs a number";
    if (keyword == "exitonerror") {
        if (!ParseInt(argument, &n) || (n != 0 && n != 1)) return "exitonerror needs 0 or 1";
        e->exitOnError = static_cast<uint32_t>(n);
        return "";
    }
    if (keyword == "hook") {
        if (argument != "line") return "the only hook is \"line\"";
        e->lineHook = true;
        return "";
    }
    return "unknown expectation \"" + std::string(keyword) + "\"";
}

void DiffLog(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
             std::string* out) {
    size_t n = std::max(expected.size(), actual.size());
    for (size_t i = 0; i < n; ++i) {
        const std::string* e = i < expected.size() ? &expected[i] : nullptr;
        const std::string* a = i < actual.size() ? &actual[i] : nullptr;
        if (e != nullptr && a != nullptr && *e == *a) continue;
        std::string where = "log line " + std::to_string(i + 1);
        *out += where + (e != nullptr ? " expected: " + *e : " not expected") + "\n";
        *out += where + (a != nullptr ? " actual:   " + *a : " missing") + "\n";
    }
}

}  // namespace

ListingExpectations ParseExpectations(std::string_view text) {
    ListingExpectations e;
    int number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = TrimLeft(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.starts_with(";!")) continue;
        std::string error = ParseLine(line.substr(2), &e);
        if (!error.empty()) e.errors.push_back("line " + std::to_string(number) + ": " + error);
    }
    return e;
}

std::string DiffListing(const ListingExpectations& expected, const ListingResult& result) {
    std::string out;
    for (const std::string& d : result.diagnostics) out += d + "\n";
    if (!result.diagnostics.empty()) return out;
    DiffLog(expected.log, result.log, &out);
    if (expected.status != result.status) {
        out += "status expected " + std::to_string(expected.status) + ", actual " +
               std::to_string(result.status) + " (line " + std::to_string(result.line) +
               ", error text \"" + result.errorText + "\")\n";
    }
    for (const std::string& f : result.faults) out += "fault: " + f + "\n";
    return out;
}

}  // namespace qv
