// The publisher's public key compiled into this build, and whether the build
// refuses a release manifest without a signature. Both are chosen when the
// build is configured (TIDE_RELEASE_PUBLIC_KEY, TIDE_REQUIRE_SIGNATURE).
#pragma once

#include <cstdint>
#include <vector>

namespace tide {

// kPublicKeyBytes bytes (download/signature.h).
const std::vector<uint8_t>& ReleasePublicKey();
bool ReleaseSignatureRequired();
// The build trusts the public test key, whose secret half anyone can read
// (configured with TIDE_ALLOW_TEST_KEY): never a release.
bool ReleaseKeyIsTestKey();

}  // namespace tide
