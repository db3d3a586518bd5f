// The "arexx" command library: one public port per program (CreateRexxPort), commands sent
// to other programs' ports (SendRexxCommand) and REXX scripts run by the "REXX" port
// (RunRexxScript). A send waits for its reply and meanwhile answers the commands arriving at
// the program's own port, so that two programs may call each other.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/vm.h"
#include "platform/linux/rexx_ports.h"

// Registers the commands as globals and under "arexx", and sends "@rexx:PORT" debug output
// through the ports. Returns 0 or ERR_MEM.
int RegisterARexxLibrary(qvVmState* L);
// Shutdown: answers every waiting message with "" and removes the port.
void CloseRexxPort(qvVmState* L);

int CreateRexxPort(qvVmState* L);
int SendRexxCommand(qvVmState* L);
int RunRexxScript(qvVmState* L);

// The port operations of the event dispatcher. GetRexxPortMessage gives the next message
// waiting at the program's port, or none (also when there is no port).
std::unique_ptr<qv::RexxMessage> GetRexxPortMessage();
const std::string& GetRexxArg0(const qv::RexxMessage& message);
void ReplyRexxMessage(std::unique_ptr<qv::RexxMessage> message, std::string_view result);

namespace qv {

// An ARexx or user-message command text as a handler's message table holds it: the word
// before the first space, and the rest both as it is and split into arguments at the spaces
// outside double quotes (each such space ends one, so two spaces make an empty one), the
// quotes removed.
struct RexxCommandText {
    std::string command;
    std::string args;  // the arguments, separated by NULs, without their quotes
    std::string rawArgs;
    int argc = 0;  // 1 plus the argument-ending spaces; 0 without a space
};
RexxCommandText SplitRexxCommand(std::string_view text);

// The descriptors of the program's port (none without one), for waits.
std::vector<int> RexxPortDescriptors();
// The "@rexx:PORT" debug sink: text as a non-returning command; an absent port drops it.
void SendRexxDebugText(const char* port, std::string_view text);

}  // namespace qv
