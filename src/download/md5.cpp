#include "download/md5.h"

#include <cstring>

#include "base/error.h"

namespace tide {
namespace {

// The four auxiliary functions of RFC 1321, in equivalent forms that need
// fewer operations (G adds two disjoint terms so they can run in parallel).
#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define G_STEP(a, b, c, d) ((a) += (~(d) & (c)), (a) += ((d) & (b)))
// H steps come in pairs that share one XOR: step one adds b ^ c ^ d and
// keeps t = b ^ c; step two, whose operands are the new a, b and c, adds
// t ^ a.
#define HSTEP1(a, b, c, d, x, s, ac) \
    do {                             \
        (a) += (x) + (ac);           \
        t = (b) ^ (c);               \
        (a) += t ^ (d);              \
        (a) = ROTL((a), (s));        \
        (a) += (b);                  \
    } while (0)
#define HSTEP2(a, b, c, d, x, s, ac) \
    do {                             \
        (a) += (x) + (ac);           \
        (a) += t ^ (b);              \
        (a) = ROTL((a), (s));        \
        (a) += (b);                  \
    } while (0)
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
#define ROTL(x, n) (((x) << (n)) | ((x) >> (32 - (n))))
// One step: a = b + ((a + f(b, c, d) + x + ac) <<< s). The message word and
// constant go in first, independent of b, c and d.
#define STEP(f, a, b, c, d, x, s, ac) \
    do {                              \
        (a) += (x) + (ac);            \
        (a) += f((b), (c), (d));      \
        (a) = ROTL((a), (s));         \
        (a) += (b);                   \
    } while (0)
#define GSTEP(a, b, c, d, x, s, ac) \
    do {                            \
        (a) += (x) + (ac);          \
        G_STEP(a, b, c, d);         \
        (a) = ROTL((a), (s));       \
        (a) += (b);                 \
    } while (0)

// Overwrites memory in a way the optimiser may not drop as a dead store.
void Wipe(void* p, size_t n) {
    std::memset(p, 0, n);
#if defined(__GNUC__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

void Decode(uint32_t* out, const uint8_t* in) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, in, 64);
#else
    for (int i = 0; i < 16; ++i)
        out[i] = uint32_t(in[4 * i]) | uint32_t(in[4 * i + 1]) << 8 | uint32_t(in[4 * i + 2]) << 16 |
                 uint32_t(in[4 * i + 3]) << 24;
#endif
}

void Encode(uint8_t* out, const uint32_t* in, int words) {
    for (int i = 0; i < words; ++i) {
        out[4 * i] = uint8_t(in[i]);
        out[4 * i + 1] = uint8_t(in[i] >> 8);
        out[4 * i + 2] = uint8_t(in[i] >> 16);
        out[4 * i + 3] = uint8_t(in[i] >> 24);
    }
}

void Transform(uint32_t st[4], const uint8_t block[64]) {
    uint32_t a = st[0], b = st[1], c = st[2], d = st[3];
    uint32_t x[16], t;
    Decode(x, block);

    STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
    STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
    STEP(F, c, d, a, b, x[2], 17, 0x242070db);
    STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
    STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
    STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
    STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
    STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
    STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
    STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
    STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
    STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
    STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
    STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
    STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
    STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

    GSTEP(a, b, c, d, x[1], 5, 0xf61e2562);
    GSTEP(d, a, b, c, x[6], 9, 0xc040b340);
    GSTEP(c, d, a, b, x[11], 14, 0x265e5a51);
    GSTEP(b, c, d, a, x[0], 20, 0xe9b6c7aa);
    GSTEP(a, b, c, d, x[5], 5, 0xd62f105d);
    GSTEP(d, a, b, c, x[10], 9, 0x02441453);
    GSTEP(c, d, a, b, x[15], 14, 0xd8a1e681);
    GSTEP(b, c, d, a, x[4], 20, 0xe7d3fbc8);
    GSTEP(a, b, c, d, x[9], 5, 0x21e1cde6);
    GSTEP(d, a, b, c, x[14], 9, 0xc33707d6);
    GSTEP(c, d, a, b, x[3], 14, 0xf4d50d87);
    GSTEP(b, c, d, a, x[8], 20, 0x455a14ed);
    GSTEP(a, b, c, d, x[13], 5, 0xa9e3e905);
    GSTEP(d, a, b, c, x[2], 9, 0xfcefa3f8);
    GSTEP(c, d, a, b, x[7], 14, 0x676f02d9);
    GSTEP(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    HSTEP1(a, b, c, d, x[5], 4, 0xfffa3942);
    HSTEP2(d, a, b, c, x[8], 11, 0x8771f681);
    HSTEP1(c, d, a, b, x[11], 16, 0x6d9d6122);
    HSTEP2(b, c, d, a, x[14], 23, 0xfde5380c);
    HSTEP1(a, b, c, d, x[1], 4, 0xa4beea44);
    HSTEP2(d, a, b, c, x[4], 11, 0x4bdecfa9);
    HSTEP1(c, d, a, b, x[7], 16, 0xf6bb4b60);
    HSTEP2(b, c, d, a, x[10], 23, 0xbebfbc70);
    HSTEP1(a, b, c, d, x[13], 4, 0x289b7ec6);
    HSTEP2(d, a, b, c, x[0], 11, 0xeaa127fa);
    HSTEP1(c, d, a, b, x[3], 16, 0xd4ef3085);
    HSTEP2(b, c, d, a, x[6], 23, 0x04881d05);
    HSTEP1(a, b, c, d, x[9], 4, 0xd9d4d039);
    HSTEP2(d, a, b, c, x[12], 11, 0xe6db99e5);
    HSTEP1(c, d, a, b, x[15], 16, 0x1fa27cf8);
    HSTEP2(b, c, d, a, x[2], 23, 0xc4ac5665);

    STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
    STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
    STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
    STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
    STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
    STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
    STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
    STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
    STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
    STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
    STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
    STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
    STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
    STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
    STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
    STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

    st[0] += a;
    st[1] += b;
    st[2] += c;
    st[3] += d;
    Wipe(x, sizeof x);
}

#undef F
#undef G_STEP
#undef GSTEP
#undef HSTEP1
#undef HSTEP2
#undef I
#undef ROTL
#undef STEP

constexpr size_t kReadBlock = 4096;

// Puts the stream back where the caller had it, on every way out.
class RestorePosition {
public:
    RestorePosition(platform::File& f, uint64_t pos) : f_(f), pos_(pos) {}
    ~RestorePosition() {
        try {
            f_.Seek(pos_);
        } catch (...) {
            // A failing seek must not replace the error that is leaving.
        }
    }

private:
    platform::File& f_;
    uint64_t pos_;
};

}  // namespace

void Md5Start(Md5State& st) {
    std::memset(&st, 0, sizeof st);
    st.state[0] = 0x67452301;
    st.state[1] = 0xefcdab89;
    st.state[2] = 0x98badcfe;
    st.state[3] = 0x10325476;
}

void Md5Feed(Md5State& st, const void* bytes, uint32_t count) {
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    uint32_t index = (st.count[0] >> 3) & 0x3F;
    uint32_t low = st.count[0] + (count << 3);
    if (low < st.count[0]) ++st.count[1];
    st.count[0] = low;
    st.count[1] += count >> 29;

    uint32_t partLen = 64 - index;
    uint32_t i = 0;
    if (count >= partLen) {
        std::memcpy(&st.buffer[index], in, partLen);
        Transform(st.state, st.buffer);
        // Whole blocks straight from the input, without copying.
        for (i = partLen; i + 63 < count; i += 64) Transform(st.state, &in[i]);
        index = 0;
    }
    if (count > i) std::memcpy(&st.buffer[index], &in[i], count - i);
}

Md5Digest Md5Finish(Md5State& st) {
    static const uint8_t kPadding[64] = {0x80};
    uint8_t bits[8];
    Encode(bits, st.count, 2);
    uint32_t index = (st.count[0] >> 3) & 0x3F;
    uint32_t padLen = index < 56 ? 56 - index : 120 - index;
    Md5Feed(st, kPadding, padLen);
    Md5Feed(st, bits, 8);
    Md5Digest d;
    Encode(d.bytes, st.state, 4);
    Wipe(&st, sizeof st);
    return d;
}

Md5Digest DigestOfStream(platform::File& stream) {
    Md5State st;
    Md5Start(st);
    // Sizes and positions are kept in 64 bits, so a file of 4 GiB or more
    // still gets the digest of all its bytes rather than of a truncated
    // count; the bit count of the digest is 64 bits wide anyway.
    const uint64_t size = stream.Size();
    const uint64_t position = stream.Position();
    {
        RestorePosition restore(stream, position);
        stream.Seek(0);
        uint8_t buf[kReadBlock];
        uint64_t total = 0;
        for (;;) {
            size_t got = stream.Read(buf, sizeof buf);
            if (got == 0) break;
            Md5Feed(st, buf, static_cast<uint32_t>(got));
            total += got;
            if (total == size) break;
        }
        Wipe(buf, sizeof buf);
    }
    return Md5Finish(st);
}

Md5Digest DigestOfFile(const std::wstring& path) {
    // Others may read the file meanwhile but not change it under us.
    auto file = platform::Files().Open(path, platform::OpenMode::ReadExisting, platform::Share::Read);
    if (!file) {
        uint32_t code = platform::Files().LastError();
        throw IoError(L"Cannot open file \"" + path + L"\" (error " + std::to_wstring(code) + L")");
    }
    return DigestOfStream(*file);  // the file closes when `file` goes
}

std::wstring DigestToHex(const Md5Digest& digest) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring s(32, L'0');
    for (int i = 0; i < 16; ++i) {
        s[2 * i] = kHex[digest.bytes[i] >> 4];
        s[2 * i + 1] = kHex[digest.bytes[i] & 0x0F];
    }
    return s;
}

}  // namespace tide
