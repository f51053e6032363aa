// Command lines as this program and its callers write them.
#pragma once

#include <string>
#include <vector>

namespace tide {

// Splits a command line into its arguments (the first being the program
// path). A double quote opens or closes a quoted run and is dropped; blanks
// (space, tab) outside a quoted run separate arguments; a backslash is an
// ordinary character, so "C:\Program Files\Tidewell\" is one argument that
// ends in a backslash. A quoted run makes an argument even when empty ("").
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

// The text after the program path (the first argument as SplitCommandLine
// reads it) and the blanks that follow it, exactly as written: what a
// program that restarts another passes on.
std::wstring CommandLineArguments(const std::wstring& line);

}  // namespace tide
