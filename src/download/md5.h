// MD5 message digest (RFC 1321) and the digest of a whole file or stream.
// Used to prove that a downloaded component arrived intact; the text form is
// compared with the FILE_MD5SUM value of the release manifest by the caller.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace tide {

// The 16 digest bytes in RFC 1321 output order (A, B, C, D, each
// little-endian).
struct Md5Digest {
    uint8_t bytes[16];
};

// Running state of one digest computation. Plain data owned by the caller:
// no pointers, nothing to release. Zeroed by Md5Finish; start it again
// before reuse.
struct Md5State {
    uint32_t state[4];   // A, B, C, D
    uint32_t count[2];   // bits fed so far, low word first
    uint8_t buffer[64];  // the part of the current block not yet processed
};

void Md5Start(Md5State& st);
void Md5Feed(Md5State& st, const void* bytes, uint32_t count);
Md5Digest Md5Finish(Md5State& st);

// Digest of the whole stream from its first byte, whatever its position;
// the position is restored afterwards, also when a read fails (the error
// then passes to the caller). Reads blocks of 4096 bytes.
Md5Digest DigestOfStream(platform::File& stream);

// Digest of the file at path, opened read-only through platform::Files().
// Throws IoError naming the file when it cannot be opened.
Md5Digest DigestOfFile(const std::wstring& path);

// 32 upper-case hexadecimal digits.
std::wstring DigestToHex(const Md5Digest& digest);

}  // namespace tide
