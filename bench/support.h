// Shared by the benchmark programs: private temporary folders and the
// record that every contestant writes.
#ifndef BENCH_SUPPORT_H
#define BENCH_SUPPORT_H

#include <stddef.h>

#include <string>

#include "log/log.h"
#include "tests/temp_dir.h"

namespace bench {

long long FileSize(const std::string& path);  // -1 when missing
void TruncateTo(const std::string& path, long long size);  // creates it if missing

// The message every contestant writes: 62 characters once formatted.
constexpr char MessageFormat[] = "Received DEV_ID: Unique Corvane Address: 0x%02X  Host Id: 0x%04X";
constexpr unsigned int MessageAddress = 0x05;
constexpr unsigned int MessageHostId = 0x1234;
std::string Message();

// The record header of this thread at this moment, as the log writes it.
std::string Header(Log::eLevel level);

}  // namespace bench

#endif
