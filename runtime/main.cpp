// The player. It cannot run applets yet: the run-time core is still being built.
#include <cstdio>

int main() {
    std::puts("QuorvellaPlayer for Linux: this build cannot run applets yet.");
    return 0;
}
