// Errors that leave an operation. Most operations report failure as a Boolean
// and show their own message box; these are raised only for file input and
// output, malformed numbers and a few platform probes.
#pragma once

#include <stdexcept>
#include <string>

namespace tide {

class Error : public std::runtime_error {
public:
    explicit Error(const std::wstring& message);
    const std::wstring& Message() const { return message_; }

private:
    std::wstring message_;
};

// Reading or writing a file failed.
class IoError : public Error {
public:
    using Error::Error;
};

// A text that should hold a number does not.
class ConvertError : public Error {
public:
    using Error::Error;
};

}  // namespace tide
