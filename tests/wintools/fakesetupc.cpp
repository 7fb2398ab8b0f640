// A fake com0com setupc.exe, for the tests and the checks of the built program. It keeps its
// records and takes its answers from files beside itself, the way the Linux tests' script does
// (TestSupport::FakeSetupc drives both):
//   writes  call-N   the arguments of its N-th call, each ended by a NUL byte
//           args     the same for the latest call
//           cmdline  the latest raw command line (so a test sees how the request was quoted)
//           exe      where the program itself was started from
//           cwd      the folder it was started in (the program's own current folder)
//   answers a request (the first word of the first argument) with REQUEST.out.K for its K-th
//           call or else REQUEST.out on standard output, REQUEST.err on standard error, and
//           exits with the number in REQUEST.status (0 without it); with REQUEST.endless it
//           does not end: "hang" waits, "flood" / "flood-stderr" print a port line without end
//   writes  REQUEST.pid  its process id
#include "faketool.h"

#include <cstdlib>

int main()
{
    using namespace FakeTool;
    record(L"cmdline", L"args", '\0', L"cwd");
    const std::wstring here = folder();
    writeFile(here + L"exe", utf8(ownPath().c_str()));

    std::string args;
    readFile(here + L"args", &args);
    int n = 1;
    while (GetFileAttributesW((here + L"call-" + std::to_wstring(n)).c_str()) != INVALID_FILE_ATTRIBUTES)
        ++n;
    writeFile(here + L"call-" + std::to_wstring(n), args);

    // Request names are plain words (list, install, remove, uninstall): no conversion is needed
    // to make a file name of one.
    const std::string first = args.substr(0, args.find('\0'));
    const std::string word = first.substr(0, first.find(' '));
    const std::wstring request = here + std::wstring(word.begin(), word.end());
    std::string text;
    int k = 1;
    if (readFile(request + L".calls", &text))
        k = std::atoi(text.c_str()) + 1;
    writeFile(request + L".calls", std::to_string(k));
    writeFile(request + L".pid", std::to_string(GetCurrentProcessId()));

    if (readFile(request + L".out." + std::to_wstring(k), &text) || readFile(request + L".out", &text))
        put(STD_OUTPUT_HANDLE, text);
    if (readFile(request + L".err", &text))
        put(STD_ERROR_HANDLE, text);
    // An empty REQUEST.endless is none, as for the Linux fake.
    if (readFile(request + L".endless", &text) && !text.empty()) {
        if (text == "hang")
            Sleep(INFINITE);
        HANDLE channel = GetStdHandle(text == "flood-stderr" ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
        // As the Linux fake's yes does: whole pipe buffers of the same line.
        std::string lines;
        while (lines.size() < 65536 - 20)
            lines += "CNCA0 PortName=COM5\n";
        DWORD written = 0;
        // 16 MiB, far past the 1 MiB the caller keeps, then silence until it is stopped: Wine's
        // pipes take all a writer gives at once, and a flood without end would measure them.
        for (int chunk = 0; chunk < (16 << 20) / int(lines.size()); ++chunk)
            if (!WriteFile(channel, lines.data(), DWORD(lines.size()), &written, nullptr))
                return 1;
        Sleep(INFINITE);
        return 1;
    }
    if (readFile(request + L".status", &text))
        return std::atoi(text.c_str());
    return 0;
}
