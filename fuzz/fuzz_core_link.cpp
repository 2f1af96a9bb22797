// An input is what the core sends: DEV_ID, then the answer to STOP, all in the
// tool's socket before it reads and the core's side shut, so no receive waits.
#include <sys/socket.h>

#include "cmd/cue_ctl.h"
#include "fuzz_support.h"

static Log* const NullLog = Log::GetLog("/dev/null", "cue_ctl", "/dev/null", Log::MORE_DBG);  // records still formatted

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)  // far below the socket buffer: the write takes it all
        return -1;
    int tool[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tool) == 0);
    FUZZ_CHECK(write(tool[1], data, size) == static_cast<ssize_t>(size));
    FUZZ_CHECK(shutdown(tool[1], SHUT_WR) == 0);
    Cue_Ctl link(tool[0], "127.0.0.1");
    std::string stop = "STOP";
    if (link.RecvDevId())
        link.Process(stop);
    close(tool[0]);
    close(tool[1]);
    return 0;
}
