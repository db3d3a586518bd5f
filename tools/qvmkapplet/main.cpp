// qvmkapplet: builds applet containers for tests (see applet_builder.h and cli.cpp).
#include <cstdio>

#include "tools/qvmkapplet/applet_builder.h"

int main(int argc, char** argv) {
    std::string error;
    int status = qv::RunMakeApplet(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (status != 0) std::fprintf(stderr, "qvmkapplet: %s\n", error.c_str());
    return status;
}
