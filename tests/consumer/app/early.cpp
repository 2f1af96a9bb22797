// Creates the log and writes its first record from a static constructor:
// linked before the library, it runs before any of the library's own.
#include <tessra/log/log.h>

namespace {

struct EarlyRecord {
    EarlyRecord()
    {
        Log::GetLog("app.log", "app", "log.conf")->Write("from a static constructor %d", Log::DBG, "EarlyRecord()", 1);
    }
} early;

}  // namespace
