#include "whole_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace tessra {

Descriptor::~Descriptor()
{
    if (Fd >= 0)
        close(Fd);
}

bool IsSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool AreLinked(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && IsSameFile(first, second);
}

bool WriteWhole(const Descriptor& file, const std::string& text, bool sync)
{
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = write(file.Get(), text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += static_cast<size_t>(count);
    }
    return !sync || fsync(file.Get()) == 0;
}

bool CreateWhole(const std::string& path, const std::string& text, bool sync)
{
    unlink(path.c_str());
    bool whole;
    {
        // O_EXCL fails on any name that reappeared since, a link among them.
        const Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!file.IsOpen())
            return false;
        whole = WriteWhole(file, text, sync);
    }
    if (!whole)
        unlink(path.c_str());
    return whole;
}

}  // namespace tessra
