// comprobe: which Win32 read pattern gets the bytes that arrive at a COM port. Run by hand,
// under Wine with COMn a dosdevices link to a pty, while something writes at the pty's other end:
//
//     comprobe COM7 PATTERN SECONDS
//
// PATTERN:
//   qt        as Qt Serial Port 5.15 reads: an overlapped handle, read timeouts MAXDWORD/0/0,
//             SetCommMask(EV_RXCHAR), WaitCommEvent overlapped; on the event ClearCommError for
//             the queue, then an overlapped ReadFile of up to 4096 bytes
//   overlapped-read   an overlapped handle, the same timeouts, overlapped ReadFile again and
//             again, no comm events
//   blocking-read     a plain handle, timeouts MAXDWORD/MAXDWORD/200 (wait up to 200 ms for a
//             first byte), ReadFile in a loop
//   queue     an overlapped handle: ClearCommError's input queue, polled
//   event-only  as qt, but only reports the comm events
//   apc       the wait exactly as Qt issues it: NtDeviceIoControlFile(IOCTL_SERIAL_WAIT_ON_MASK)
//             with an APC routine and no event, then alertable sleeps; reports whether and how
//             the APC comes
// It first writes "probe\n" to the port, then reports every call's result and what it read.
#include <windows.h>
#include <winternl.h>

// ntddser.h's value; the header itself needs the driver kit's types.
#ifndef IOCTL_SERIAL_WAIT_ON_MASK
#define IOCTL_SERIAL_WAIT_ON_MASK CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS)
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static int apcCalls = 0;
static NTSTATUS apcStatus = 0;
static void NTAPI apcRoutine(void *, IO_STATUS_BLOCK *iosb, ULONG)
{
    ++apcCalls;
    apcStatus = iosb->Status;
}

static void report(const char *what, BOOL ok, DWORD n = 0)
{
    std::printf("%-28s %s", what, ok ? "ok" : "FAILED");
    if (!ok)
        std::printf(" (error %lu)", GetLastError());
    else if (n != DWORD(-1))
        std::printf(" %lu", n);
    std::printf("\n");
    std::fflush(stdout);
}

static void shown(const char *data, DWORD n)
{
    std::printf("  read %lu bytes: \"", n);
    for (DWORD i = 0; i < n; ++i)
        std::printf(data[i] >= 32 && data[i] < 127 ? "%c" : "\\x%02x", (unsigned char)data[i]);
    std::printf("\"\n");
    std::fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: comprobe COMn qt|overlapped-read|blocking-read|queue|event-only SECONDS\n");
        return 2;
    }
    const std::string port = std::string("\\\\.\\") + argv[1];
    const std::string pattern = argv[2];
    const DWORD until = GetTickCount() + DWORD(std::atoi(argv[3])) * 1000;
    const bool overlapped = pattern != "blocking-read";

    HANDLE h = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    report("CreateFile", h != INVALID_HANDLE_VALUE, DWORD(-1));
    if (h == INVALID_HANDLE_VALUE)
        return 1;

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    report("GetCommState", GetCommState(h, &dcb), DWORD(-1));
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = dcb.fInX = FALSE;
    report("SetCommState 9600 8N1", SetCommState(h, &dcb), DWORD(-1));

    COMMTIMEOUTS t;
    std::memset(&t, 0, sizeof t);
    if (pattern == "blocking-read") {
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = 200;
    } else {
        t.ReadIntervalTimeout = MAXDWORD;
    }
    report("SetCommTimeouts", SetCommTimeouts(h, &t), DWORD(-1));

    OVERLAPPED wo;
    std::memset(&wo, 0, sizeof wo);
    wo.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(h, "probe\n", 6, overlapped ? nullptr : &written, overlapped ? &wo : nullptr);
    if (overlapped && !ok && GetLastError() == ERROR_IO_PENDING)
        ok = GetOverlappedResult(h, &wo, &written, TRUE);
    else if (overlapped && ok)
        GetOverlappedResult(h, &wo, &written, TRUE);
    report("WriteFile \"probe\\n\"", ok, written);

    char buf[4096];
    DWORD total = 0;
    OVERLAPPED ro, eo;
    std::memset(&ro, 0, sizeof ro);
    std::memset(&eo, 0, sizeof eo);
    ro.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    eo.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    if (pattern == "qt" || pattern == "event-only") {
        report("SetCommMask EV_RXCHAR", SetCommMask(h, EV_RXCHAR), DWORD(-1));
        while (GetTickCount() < until) {
            DWORD mask = 0, n = 0;
            ResetEvent(eo.hEvent);
            ok = WaitCommEvent(h, &mask, &eo);
            if (!ok && GetLastError() != ERROR_IO_PENDING) {
                report("WaitCommEvent", FALSE);
                break;
            }
            if (!ok) {
                const DWORD left = until - GetTickCount();
                if (WaitForSingleObject(eo.hEvent, left > until ? 0 : left) != WAIT_OBJECT_0) {
                    std::printf("WaitCommEvent               no event within the time\n");
                    break;
                }
                ok = GetOverlappedResult(h, &eo, &n, FALSE);
            }
            const DWORD error = ok ? 0 : GetLastError();
            std::printf("WaitCommEvent               %s mask 0x%lx, status 0x%lx, error %lu\n", ok ? "ok" : "FAILED",
                        mask, (unsigned long)eo.Internal, error);
            COMSTAT st;
            DWORD errors = 0;
            std::memset(&st, 0, sizeof st);
            ClearCommError(h, &errors, &st);
            std::printf("  ClearCommError: input queue %lu, errors 0x%lx\n", st.cbInQue, errors);
            if (pattern == "event-only")
                continue;
            ResetEvent(ro.hEvent);
            ok = ReadFile(h, buf, sizeof buf, nullptr, &ro);
            if (!ok && GetLastError() != ERROR_IO_PENDING) {
                report("ReadFile", FALSE);
                break;
            }
            ok = GetOverlappedResult(h, &ro, &n, TRUE);
            report("ReadFile (overlapped)", ok, n);
            if (ok && n) {
                shown(buf, n);
                total += n;
            }
        }
    } else if (pattern == "apc") {
        report("SetCommMask EV_RXCHAR", SetCommMask(h, EV_RXCHAR), DWORD(-1));
        while (GetTickCount() < until) {
            DWORD mask = 0;
            IO_STATUS_BLOCK iosb;
            iosb.Status = STATUS_PENDING;
            const int before = apcCalls;
            const NTSTATUS status = NtDeviceIoControlFile(h, nullptr, apcRoutine, nullptr, &iosb,
                                                          IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, &mask,
                                                          sizeof mask);
            std::printf("NtDeviceIoControlFile       status 0x%lx\n", (unsigned long)status);
            while (apcCalls == before && GetTickCount() < until)
                SleepEx(100, TRUE);
            std::printf("  APC %s: status 0x%lx, mask 0x%lx; io status block 0x%lx\n",
                        apcCalls > before ? "came" : "never came", (unsigned long)apcStatus, mask,
                        (unsigned long)iosb.Status);
            std::fflush(stdout);
            if (apcCalls == before)
                break;
            COMSTAT st;
            DWORD errors = 0;
            ClearCommError(h, &errors, &st);
            if (st.cbInQue) {
                DWORD n = 0;
                ResetEvent(ro.hEvent);
                if (ReadFile(h, buf, sizeof buf, nullptr, &ro) || GetLastError() == ERROR_IO_PENDING) {
                    GetOverlappedResult(h, &ro, &n, TRUE);
                    shown(buf, n);
                    total += n;
                }
            }
        }
    } else if (pattern == "overlapped-read") {
        while (GetTickCount() < until) {
            DWORD n = 0;
            ResetEvent(ro.hEvent);
            ok = ReadFile(h, buf, sizeof buf, nullptr, &ro);
            if (!ok && GetLastError() != ERROR_IO_PENDING) {
                report("ReadFile", FALSE);
                break;
            }
            ok = GetOverlappedResult(h, &ro, &n, TRUE);
            if (!ok) {
                report("GetOverlappedResult", FALSE);
                break;
            }
            if (n) {
                shown(buf, n);
                total += n;
            } else {
                Sleep(50);
            }
        }
    } else if (pattern == "blocking-read") {
        while (GetTickCount() < until) {
            DWORD n = 0;
            if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
                report("ReadFile", FALSE);
                break;
            }
            if (n) {
                shown(buf, n);
                total += n;
            }
        }
    } else if (pattern == "queue") {
        DWORD last = DWORD(-1);
        while (GetTickCount() < until) {
            COMSTAT st;
            DWORD errors = 0;
            std::memset(&st, 0, sizeof st);
            ok = ClearCommError(h, &errors, &st);
            if (st.cbInQue != last || !ok)
                std::printf("ClearCommError              %s input queue %lu\n", ok ? "ok" : "FAILED", st.cbInQue);
            last = st.cbInQue;
            Sleep(50);
        }
    }
    std::printf("total read: %lu bytes\n", total);
    CloseHandle(h);
    return total ? 0 : 1;
}
