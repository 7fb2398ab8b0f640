// A fake devcon.exe for the driver installer's tests. Parvex copies devcon.exe into another
// folder before it starts it, so the fake's answer travels inside the program file itself: a
// test appends a trailer after the program's bytes,
//     "\nVCOM-FAKE-DEVCON\n" ACTION "\n" OUTPUT
// with ACTION one of "exit N", "crash" (an access violation) or "hang N" (sleeps N seconds).
// Beside itself it writes pid.txt, args.txt (one argument a line, as received),
// cmdline.txt (the raw command line) and cwd.txt; then it prints OUTPUT and does ACTION.
#include "faketool.h"

#include <cstdlib>
#include <cstring>

int main()
{
    using namespace FakeTool;
    // A crash ends the process with its exception code, as Windows does without an error
    // reporter; no debugger or crash dialog is started (Wine would start one).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter([](EXCEPTION_POINTERS *) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
    const std::wstring here = folder();
    writeFile(here + L"pid.txt", std::to_string(GetCurrentProcessId()));
    record(L"cmdline.txt", L"args.txt", '\n', L"cwd.txt");

    std::string self, action = "exit 0", output;
    // Made at run time: the text as a constant would also stand in the program's own bytes.
    char marker[] = "\nVCOM-FAKE-DEVCOn\n";
    marker[16] = 'N';
    if (readFile(ownPath(), &self)) {
        const size_t at = self.rfind(marker);
        if (at != std::string::npos) {
            const size_t from = at + std::strlen(marker);
            const size_t eol = self.find('\n', from);
            action = self.substr(from, eol == std::string::npos ? std::string::npos : eol - from);
            if (eol != std::string::npos)
                output = self.substr(eol + 1);
        }
    }
    put(STD_OUTPUT_HANDLE, output);

    if (action == "crash") {
        volatile int *nowhere = nullptr;
        *nowhere = 1;
    }
    if (action.compare(0, 5, "hang ") == 0)
        Sleep(DWORD(std::atoi(action.c_str() + 5)) * 1000);
    if (action.compare(0, 5, "exit ") == 0)
        return std::atoi(action.c_str() + 5);
    return 0;
}
