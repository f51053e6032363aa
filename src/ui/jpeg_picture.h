// The window's artwork: a JPEG picture decoded with libjpeg, and the
// area-averaging scale that fits it to a control at the monitor's DPI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/window.h"

namespace tide {

// Decodes a JPEG (baseline or progressive, grey or colour) into 32-bit
// pixels. False, with the decoder's message in why, for data that is not
// a JPEG picture. A picture cut short decodes as far as it goes (libjpeg
// fills the rest) and counts as decoded, with a warning in why.
bool DecodeJpeg(const std::vector<uint8_t>& data, platform::Bitmap& out, std::wstring& why);

// The picture resized to width x height, each target pixel the average of
// the source area it covers (smooth when shrinking, bilinear-like steps
// when enlarging).
platform::Bitmap ScaleBitmap(const platform::Bitmap& src, int width, int height);

}  // namespace tide
