// The program's entry: the platform hands the arguments to the program body and turns the
// run's outcome into the process's exit status (0, or 20 after an error report).
#include "runtime/player.h"

int main(int argc, char** argv) {
    PlayerMain(argc, argv);
    return qv::PlayerExitStatus();
}
