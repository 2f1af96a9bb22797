// The byte dump and the LOCAL record, through one file log.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_support.h"

static const MemFile LogFile;
// An empty configuration keeps the level given, at which every level is written.
static Log* const Writer = new Log(LogFile.Path.c_str(), "cue_ctl", "/dev/null", Log::MORE_DBG);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    FuzzedDataProvider fuzzed(input, inputSize);
    Writer->SetDisplayMethod(fuzzed.ConsumeBool());
    const bool dump = fuzzed.ConsumeBool();
    const auto level = static_cast<Log::eLevel>(fuzzed.ConsumeIntegralInRange(0, 5));
    const auto perLine = fuzzed.ConsumeIntegral<int32_t>();  // any: the product clamps both
    const auto indentation = fuzzed.ConsumeIntegral<uint32_t>();
    const auto claimedSize = fuzzed.ConsumeIntegral<uint32_t>();
    const auto data = fuzzed.ConsumeRemainingBytes<unsigned char>();  // its own block: ASan sees reads past it
    const std::string text(data.begin(), data.end());  // written with "%s": up to its first zero
    // A size past 1024 is refused unread; one up to it must lie within the data.
    const uint32_t size = claimedSize > 1024 ? claimedSize : std::min<size_t>(claimedSize, data.size());

    FUZZ_CHECK(ftruncate(LogFile.Fd, 0) == 0);  // the header block or the last record
    if (dump)
        Writer->Write("%s", data.data(), size, perLine, indentation, level, __func__, text.c_str());
    else
        Writer->Write("%s", level, __func__, text.c_str());
    char last = 0;
    FUZZ_CHECK(lseek(LogFile.Fd, -1, SEEK_END) >= 0 && read(LogFile.Fd, &last, 1) == 1 && last == '\n');  // whole
    return 0;
}
