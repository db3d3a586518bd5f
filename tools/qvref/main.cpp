// qvref SIGNATURES -o OUT
// Writes the command and constant reference (docs/reference.md) to OUT: the libraries the
// player registers, their commands with the lines of SIGNATURES, and their constants. Exit
// status 1, with each problem on standard error, when SIGNATURES does not match the tables or
// a file cannot be read or written.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/qvref/reference.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "qvref: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[2], "-o") != 0) {
        std::fputs("usage: qvref SIGNATURES -o OUT\n", stderr);
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) return Fail(std::string("cannot read ") + argv[1]);
    std::vector<std::string> problems;
    const qv::reference::Signatures signatures =
        qv::reference::ParseSignatures(text.str(), &problems);
    qv::reference::Registry registry;
    std::string error;
    if (!qv::reference::ReadPlayerRegistry(&registry, &error)) return Fail(error);
    const std::string reference = qv::reference::WriteReference(registry, signatures, &problems);
    for (const std::string& problem : problems) Fail(std::string(argv[1]) + ": " + problem);
    if (!problems.empty()) return 1;
    std::ofstream out(argv[3], std::ios::binary);
    out << reference;
    out.close();
    if (!out) return Fail(std::string("cannot write ") + argv[3]);
    return 0;
}
