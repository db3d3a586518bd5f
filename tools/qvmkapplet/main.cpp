// qvmkapplet: builds applet containers for tests (see applet_builder.h and cli.cpp).
#include <algorithm>
#include <cstdio>

#include "tools/qvmkapplet/applet_builder.h"

// Without arguments the help is the answer to a mistake (status 1); asked for, it is not.
int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || std::find(args.begin(), args.end(), "--help") != args.end()) {
        std::fputs(qv::MakeAppletHelp().c_str(), args.empty() ? stderr : stdout);
        return args.empty() ? 1 : 0;
    }
    std::string error;
    int status = qv::RunMakeApplet(args, &error);
    if (status != 0) std::fprintf(stderr, "qvmkapplet: %s\n", error.c_str());
    return status;
}
