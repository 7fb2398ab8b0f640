// The tests' remedy, under Wine only, for a COM port event wait whose completion Wine never
// reports: with it the program's own read path (Qt Serial Port's) runs unchanged under Wine.
//
// Qt Serial Port learns that bytes arrived by IOCTL_SERIAL_WAIT_ON_MASK, issued with
// NtDeviceIoControlFile on its overlapped handle with an APC routine and no event. Windows
// returns at once and queues that APC to the calling thread when the wait completes, at once or
// later; Qt then reads. Wine 8 implements the wait only for a caller that passes an event: its
// serial driver ignores the APC argument, and without an event it blocks the caller until the
// wait ends, then returns without queueing the APC. Qt then never reads a byte.
//
// The remedy gives Wine what it implements and the caller what Windows does: for that one
// request with an APC and no event, it passes an event of its own, and once Wine sets it (the wait
// completed, successfully or not) queues the caller's APC to the caller's thread, with the status
// block Wine filled in. A request that fails at once returns its status and queues nothing, as on
// Windows. Every other call goes through untouched. It is installed by redirecting, in Qt Core's
// import table, GetProcAddress for "NtDeviceIoControlFile" in ntdll (Qt Serial Port looks the
// function up through QLibrary), so it must be in place before the first port is opened: a
// static initialiser of the tests' support does that. On Windows itself nothing is changed.
//
// Wine writes the event mask at completion, which may come after the port was closed and Qt
// freed the mask's variable: so Wine writes into the remedy's own buffer, and the mask is copied
// to the caller's when its APC runs, unless the caller cancelled the wait first (CancelIoEx, as
// Qt's close does), as on Windows, where a cancelled wait writes nothing more.
//
// Wine's waiting thread also needs an answer to TIOCMGET from the pseudo-terminal: see
// ptymodem.c, preloaded for the test run.
#ifndef WINESERIAL_H
#define WINESERIAL_H

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace WineSerial {

// ntddser.h's value; that header needs the driver kit's types.
const ULONG kWaitOnMask = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS);

typedef NTSTATUS(NTAPI *IoControl)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, ULONG, PVOID, ULONG,
                                   PVOID, ULONG);
typedef FARPROC(WINAPI *ProcAddress)(HMODULE, LPCSTR);
typedef BOOL(WINAPI *CancelIo)(HANDLE, LPOVERLAPPED);

inline IoControl &realIoControl()
{
    static IoControl f = nullptr;
    return f;
}

inline ProcAddress &realGetProcAddress()
{
    static ProcAddress f = nullptr;
    return f;
}

inline CancelIo &realCancelIo()
{
    static CancelIo f = nullptr;
    return f;
}

// One wait in flight. Its owners: the wait for Wine's event, then the queued APC and the watch on
// the caller's thread; the last to let go frees it.
struct PendingWait
{
    PIO_APC_ROUTINE apc;
    PVOID context;
    PIO_STATUS_BLOCK status;
    HANDLE device;
    // Where Wine writes the mask, and where the caller wants it.
    unsigned char out[16];
    PVOID callerOut;
    ULONG outSize;
    HANDLE thread;
    HANDLE event;
    HANDLE eventWait;
    HANDLE threadWait;
    // Set once, by the APC that runs or by the end of the caller's thread, whichever comes first.
    volatile LONG taken;
    volatile LONG owners;
    volatile LONG cancelled;
};

// The waits in flight, for the cancel to find.
inline std::mutex &pendingLock()
{
    static std::mutex m;
    return m;
}

inline std::vector<PendingWait *> &pending()
{
    static std::vector<PendingWait *> list;
    return list;
}

inline void letGo(PendingWait *p)
{
    if (InterlockedDecrement(&p->owners) == 0) {
        {
            std::lock_guard<std::mutex> lock(pendingLock());
            pending().erase(std::remove(pending().begin(), pending().end(), p), pending().end());
        }
        CloseHandle(p->event);
        CloseHandle(p->thread);
        delete p;
    }
}

// In the caller's thread, when it next waits alertably: what Windows does on completion.
inline void NTAPI deliver(ULONG_PTR arg)
{
    auto *p = reinterpret_cast<PendingWait *>(arg);
    const bool first = InterlockedCompareExchange(&p->taken, 1, 0) == 0;
    // The thread is alive, so the watch on its end has not fired: it is cancelled, and its share
    // falls to us.
    if (UnregisterWaitEx(p->threadWait, nullptr))
        letGo(p);
    const PIO_APC_ROUTINE apc = p->apc;
    const PVOID context = p->context;
    const PIO_STATUS_BLOCK status = p->status;
    if (first && !InterlockedCompareExchange(&p->cancelled, 0, 0) && (ULONG(status->Status) >> 30) != 3)
        std::memcpy(p->callerOut, p->out, p->outSize);
    letGo(p);
    if (first)
        apc(context, status, 0);
}

// The caller's thread ended: an APC still queued to it never runs, on Windows neither.
inline void CALLBACK threadEnded(PVOID arg, BOOLEAN)
{
    auto *p = static_cast<PendingWait *>(arg);
    // Its share too, when it never ran.
    if (InterlockedCompareExchange(&p->taken, 2, 0) == 0)
        letGo(p);
    UnregisterWaitEx(p->threadWait, nullptr);
    letGo(p);
}

inline void CALLBACK completed(PVOID arg, BOOLEAN)
{
    auto *p = static_cast<PendingWait *>(arg);
    UnregisterWaitEx(p->eventWait, nullptr);
    // The watch first, so that it is in place before the APC can run.
    InterlockedAdd(&p->owners, 2);
    if (!RegisterWaitForSingleObject(&p->threadWait, p->thread, threadEnded, p, INFINITE, WT_EXECUTEONLYONCE)) {
        p->threadWait = nullptr;
        letGo(p);
    }
    if (!QueueUserAPC(deliver, p->thread, ULONG_PTR(p)) && InterlockedCompareExchange(&p->taken, 2, 0) == 0)
        letGo(p);
    letGo(p);
}

inline NTSTATUS NTAPI ioControl(HANDLE device, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                PIO_STATUS_BLOCK status, ULONG code, PVOID in, ULONG inSize, PVOID out,
                                ULONG outSize)
{
    if (code != kWaitOnMask || event || !apc || outSize > sizeof(PendingWait::out))
        return realIoControl()(device, event, apc, context, status, code, in, inSize, out, outSize);
    auto *p = new PendingWait{apc, context, status, device, {}, out, outSize, nullptr,
                              CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr, nullptr, 0, 1, 0};
    if (!p->event
        || !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &p->thread, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
        if (p->event)
            CloseHandle(p->event);
        delete p;
        return realIoControl()(device, event, apc, context, status, code, in, inSize, out, outSize);
    }
    {
        std::lock_guard<std::mutex> lock(pendingLock());
        pending().push_back(p);
    }
    const NTSTATUS result = realIoControl()(device, p->event, nullptr, nullptr, status, code, in, inSize, p->out, outSize);
    // Done at once: the mask is there already.
    if (result == 0)
        std::memcpy(out, p->out, outSize);
    // NT_ERROR: failed at once, and no APC follows.
    if ((ULONG(result) >> 30) == 3
        || !RegisterWaitForSingleObject(&p->eventWait, p->event, completed, p, INFINITE, WT_EXECUTEONLYONCE))
        letGo(p);
    return result;
}

// Qt Serial Port cancels its wait on close, and frees the mask's variable after.
inline BOOL WINAPI cancelIo(HANDLE device, LPOVERLAPPED overlapped)
{
    {
        std::lock_guard<std::mutex> lock(pendingLock());
        for (PendingWait *p : pending()) {
            if (p->device == device && (!overlapped || p->status == reinterpret_cast<PIO_STATUS_BLOCK>(overlapped)))
                InterlockedExchange(&p->cancelled, 1);
        }
    }
    return realCancelIo()(device, overlapped);
}

inline FARPROC WINAPI getProcAddress(HMODULE module, LPCSTR name)
{
    const FARPROC f = realGetProcAddress()(module, name);
    // A name, not an ordinal, and ntdll's.
    if (f && (ULONG_PTR(name) >> 16) != 0 && std::strcmp(name, "NtDeviceIoControlFile") == 0
        && module == GetModuleHandleW(L"ntdll.dll")) {
        realIoControl() = reinterpret_cast<IoControl>(reinterpret_cast<void *>(f));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(ioControl));
    }
    return f;
}

// Points the module's import of dll!function at replacement; the previous address in *previous.
inline bool redirectImport(HMODULE module, const char *dll, const char *function, void *replacement, void **previous)
{
    auto *base = reinterpret_cast<BYTE *>(module);
    const auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress)
        return false;
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<const char *>(base + d->Name), dll) != 0 || !d->OriginalFirstThunk)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
        auto *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            if (!VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE, &protection))
                return false;
            *previous = reinterpret_cast<void *>(addresses->u1.Function);
            addresses->u1.Function = ULONG_PTR(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

inline bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Installs the remedy under Wine; true when it is in place. Call before any port is opened.
inline bool install()
{
    static const bool installed = [] {
        const HMODULE core = GetModuleHandleW(L"Qt5Core.dll");
        if (!underWine() || !core)
            return false;
        void *previous = nullptr;
        if (!redirectImport(core, "KERNEL32.dll", "GetProcAddress", reinterpret_cast<void *>(getProcAddress), &previous))
            return false;
        realGetProcAddress() = reinterpret_cast<ProcAddress>(previous);
        const HMODULE serial = GetModuleHandleW(L"Qt5SerialPort.dll");
        if (serial && redirectImport(serial, "KERNEL32.dll", "CancelIoEx", reinterpret_cast<void *>(cancelIo), &previous))
            realCancelIo() = reinterpret_cast<CancelIo>(previous);
        return true;
    }();
    return installed;
}

} // namespace WineSerial

#endif // WINESERIAL_H
