// Prints ExeVersionString of each argument, one per line as "path|version",
// then "agent|" followed by AgentName() of this program.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/Tidestart.h"
#include "base/encoding.h"
#include "base/text.h"

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i)
        printf("%s|%s\n", tide::WideToUtf8(argv[i]).c_str(), tide::WideToUtf8(tide::ExeVersionString(argv[i])).c_str());
    printf("agent|%s\n", tide::WideToUtf8(tide::AgentName()).c_str());
    return 0;
}
