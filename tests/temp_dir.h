#ifndef TESTS_TEMP_DIR_H
#define TESTS_TEMP_DIR_H

#include <string>

// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

#endif
