// An input is a configuration file, read by a null log. Whatever it holds,
// the level and the mode stay among those the log knows.
#include "fuzz_support.h"

static const MemFile Conf;
static Log Parser("/dev/null", "cue_ctl", Conf.Path.c_str(), Log::NONE);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_CHECK(ftruncate(Conf.Fd, 0) == 0 && pwrite(Conf.Fd, data, size, 0) == static_cast<ssize_t>(size));
    FUZZ_CHECK(Parser.ParseLogConfFile());
    FUZZ_CHECK(Parser.GetLevel() >= Log::NONE && Parser.GetLevel() <= Log::MORE_DBG);
    FUZZ_CHECK(Parser.GetLogMode() == 0 || Parser.GetLogMode() == 1);
    return 0;
}
