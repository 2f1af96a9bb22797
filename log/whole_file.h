#ifndef TESSRA_LOG_WHOLE_FILE_H
#define TESSRA_LOG_WHOLE_FILE_H

#include <sys/stat.h>

#include <string>

// The library's descriptors, and the one way it makes a file appear whole:
// the file is written under a name no reader looks at (or none at all),
// and only then named, in one step, by link or rename. Internal to the
// library; not installed.

namespace tessra {

// Owns one descriptor, if the open succeeded, and closes it when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : Fd(fd) {}
    ~Descriptor();

    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    bool IsOpen() const { return Fd >= 0; }
    int Get() const { return Fd; }

private:
    const int Fd;
};

bool IsSameFile(const struct stat& a, const struct stat& b);

// True when both names exist and name one file.
bool AreLinked(const std::string& a, const std::string& b);

// Writes all of text to the file and, with sync, waits until it is on the
// disk, so that a name given to it afterwards never shows a part of it.
bool WriteWhole(const Descriptor& file, const std::string& text, bool sync);

// Creates path as a new file holding text, for the caller to name: a file
// or link already there is removed, never followed or written through. On
// any failure nothing is left at path.
bool CreateWhole(const std::string& path, const std::string& text, bool sync);

}  // namespace tessra

#endif
