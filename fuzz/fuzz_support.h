// What the fuzz targets share: a check of their own setup, and files held in
// memory. The findings themselves are the sanitizers': a crash, a leak, an
// access out of bounds or undefined behaviour in the product.
#pragma once
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include <tessra/log/log.h>  // with <pthread.h>, <stdint.h> and <string>

// Traps, so that libFuzzer keeps the input as a crash artifact.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition), __builtin_trap()))

// A file in memory that the product opens by path (/proc/self/fd/N) as any
// file: no folder to remove, no disk write to wait for.
struct MemFile {
    const int Fd = memfd_create("fuzz", MFD_CLOEXEC);
    const std::string Path = "/proc/self/fd/" + std::to_string(Fd);

    void Set(const void* data, size_t size) const
    {
        FUZZ_CHECK(ftruncate(Fd, 0) == 0 && pwrite(Fd, data, size, 0) == static_cast<ssize_t>(size));
    }
    std::string Take() const  // the content, leaving the file empty
    {
        std::string content(static_cast<size_t>(lseek(Fd, 0, SEEK_END)), '\0');
        FUZZ_CHECK(pread(Fd, &content[0], content.size(), 0) == static_cast<ssize_t>(content.size()));
        Set("", 0);
        return content;
    }
};
