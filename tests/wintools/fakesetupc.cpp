// A fake com0com setupc.exe, for the tests and the checks of the built program. It answers from
// files beside itself, as the Linux tests' script does:
//   writes  args     the arguments it was given, each ended by a NUL byte
//           cmdline  its raw command line (so a test sees how the request was quoted)
//           cwd      the folder it was started in (the program's own current folder)
//   prints  stdout   on its standard output and stderr on its standard error, when present
//   exits   with the number in status (0 without it)
#include "faketool.h"

#include <cstdlib>

int main()
{
    using namespace FakeTool;
    record(L"cmdline", L"args", '\0', L"cwd");
    const std::wstring here = folder();
    std::string text;
    if (readFile(here + L"stdout", &text))
        put(STD_OUTPUT_HANDLE, text);
    if (readFile(here + L"stderr", &text))
        put(STD_ERROR_HANDLE, text);
    if (readFile(here + L"status", &text))
        return std::atoi(text.c_str());
    return 0;
}
