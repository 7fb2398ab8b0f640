// What the fake outside tools share: files beside the program, the command line as received.
// Plain Win32, no C++ runtime beyond the basics: the tools are linked statically, so a copy of
// one runs from any folder without DLLs beside it.
#ifndef FAKETOOL_H
#define FAKETOOL_H

#include <windows.h>

#include <string>

namespace FakeTool {

inline std::string utf8(const wchar_t *text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

inline std::wstring ownPath()
{
    wchar_t path[32768];
    const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
    return std::wstring(path, n);
}

// The program's folder, with a trailing backslash.
inline std::wstring folder()
{
    const std::wstring path = ownPath();
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline bool readFile(const std::wstring &path, std::string *out)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    out->clear();
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        out->append(buf, got);
    CloseHandle(h);
    return true;
}

inline void writeFile(const std::wstring &path, const std::string &data)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD put = 0;
    WriteFile(h, data.data(), DWORD(data.size()), &put, nullptr);
    CloseHandle(h);
}

// Bytes as they are, no text-mode translation: the tests compare them exactly.
inline void put(DWORD stdHandle, const std::string &data)
{
    HANDLE h = GetStdHandle(stdHandle);
    for (size_t done = 0; done < data.size();) {
        DWORD put = 0;
        if (!WriteFile(h, data.data() + done, DWORD(data.size() - done), &put, nullptr) || put == 0)
            return;
        done += put;
    }
}

// Records, beside the program: the raw command line (cmdline), the arguments Windows' own rules
// split it into (argv), each ended by `separator`, and the current folder (cwd).
inline void record(const wchar_t *cmdlineName, const wchar_t *argsName, char separator, const wchar_t *cwdName)
{
    const std::wstring here = folder();
    const wchar_t *raw = GetCommandLineW();
    writeFile(here + cmdlineName, utf8(raw));
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(raw, &argc);
    std::string args;
    for (int i = 1; argv && i < argc; ++i)
        args += utf8(argv[i]) + separator;
    LocalFree(argv);
    writeFile(here + argsName, args);
    wchar_t cwd[32768];
    const DWORD n = GetCurrentDirectoryW(32768, cwd);
    writeFile(here + cwdName, utf8(std::wstring(cwd, n).c_str()));
}

} // namespace FakeTool

#endif // FAKETOOL_H
