// What the fuzz targets share: a property check that stops the run with a
// message (libFuzzer then saves the input as a crash), and the ways the
// targets turn raw input bytes into the program's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/encoding.h"

#define FUZZ_CHECK(cond, what)                                                              \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "property broken: %s\n  at %s:%d: %s\n", what, __FILE__, \
                         __LINE__, #cond);                                                  \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace tide::fuzz {

inline std::string Bytes(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Text typed or passed by a caller: the input read as UTF-8 (the seeds are
// plain text; invalid sequences become U+FFFD).
inline std::wstring Text(const uint8_t* data, size_t size) { return Utf8ToWide(Bytes(data, size)); }

}  // namespace tide::fuzz
