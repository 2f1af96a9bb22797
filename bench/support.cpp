#include "support.h"

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace bench {

long long FileSize(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

void TruncateTo(const std::string& path, long long size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ftruncate(fd, size) != 0 || close(fd) != 0)
        throw std::runtime_error("cannot size " + path);
}

std::string Message()
{
    char text[128];
    snprintf(text, sizeof text, MessageFormat, MessageAddress, MessageHostId);
    return text;
}

std::string Header(Log::eLevel level)
{
    // FormatHeader reads no state of the object, so a null log will do.
    Log formatter("/dev/null", "", "/dev/null", Log::NONE);
    char header[80];
    formatter.FormatHeader(header, level);
    return header;
}

}  // namespace bench
