// An input is a configuration file, read by a null log. Whatever it holds,
// the level and the mode stay among those the log knows.
#include <sys/mman.h>

#include "fuzz_support.h"
#include "tests/log_internals.h"

// A file in memory that the parser opens by path: no folder to clean up.
static const int ConfFd = memfd_create("conf", MFD_CLOEXEC);
static const std::string ConfPath = "/proc/self/fd/" + std::to_string(ConfFd);
static Log Parser("/dev/null", "cue_ctl", ConfPath.c_str(), Log::NONE);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_CHECK(ftruncate(ConfFd, 0) == 0 && pwrite(ConfFd, data, size, 0) == static_cast<ssize_t>(size));
    FUZZ_CHECK(Internals::ParseLogConfFile(Parser));
    FUZZ_CHECK(Parser.GetLevel() >= Log::NONE && Parser.GetLevel() <= Log::MORE_DBG);
    FUZZ_CHECK(Parser.GetLogMode() == 0 || Parser.GetLogMode() == 1);
    return 0;
}
