#include "base/error.h"

#include "base/encoding.h"

namespace tide {

Error::Error(const std::wstring& message) : std::runtime_error(WideToUtf8(message)), message_(message) {}

}  // namespace tide
