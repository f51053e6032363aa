#include "download/release_key.h"

#include <stdexcept>
#include <string>

#include "download/signature.h"

// The build system defines these for this file only (so that changing the
// key recompiles nothing else).
#ifndef TIDE_RELEASE_PUBLIC_KEY_HEX
#error "TIDE_RELEASE_PUBLIC_KEY_HEX is not defined: configure with CMake"
#endif
#ifndef TIDE_REQUIRE_SIGNATURE
#error "TIDE_REQUIRE_SIGNATURE is not defined: configure with CMake"
#endif
#ifndef TIDE_TEST_KEY_BUILD
#error "TIDE_TEST_KEY_BUILD is not defined: configure with CMake"
#endif

namespace tide {

const std::vector<uint8_t>& ReleasePublicKey() {
    static const std::vector<uint8_t> key = [] {
        std::vector<uint8_t> bytes;
        // CMake checks the key file's form; this cannot fail in a configured build.
        if (!ParseHexKey(TIDE_RELEASE_PUBLIC_KEY_HEX, kPublicKeyBytes, bytes))
            throw std::logic_error("the compiled-in release key is not a public key");
        return bytes;
    }();
    return key;
}

bool ReleaseSignatureRequired() { return TIDE_REQUIRE_SIGNATURE != 0; }

bool ReleaseKeyIsTestKey() { return TIDE_TEST_KEY_BUILD != 0; }

}  // namespace tide
