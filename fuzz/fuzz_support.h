// What the fuzz targets share. Their findings are the sanitizers': a crash, a
// leak, an access out of bounds or undefined behaviour in the product.
#pragma once
#include <stdio.h>
#include <unistd.h>

#include <tessra/log/log.h>  // with <pthread.h>, <stdint.h> and <string>

// Traps, so that libFuzzer keeps the input as a crash artifact.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition), __builtin_trap()))
