#!/usr/bin/env bash
# Runs a Windows program under Wine, for CTest (CMAKE_CROSSCOMPILING_EMULATOR) and
# scripts/windows.sh, which set up the Wine prefix, the display and the DLL path first.
# A Qt Test's report is written to the file named by "-o FILE,txt": it is printed afterwards, so
# CTest shows it with the test's own output.
set -u
report=""
prev=""
for a in "$@"; do
    [ "$prev" = "-o" ] && report=${a%,*}
    prev=$a
done
[ -n "$report" ] && rm -f "$report"
"${VCOM_WINE:-/usr/lib/wine/wine64}" "$@"
rc=$?
# The host side of the pty pairs a test made and could not remove (it crashed, say): nothing of
# it outlives the test.
[ -n "${WINEPREFIX:-}" ] && bash "$(dirname "${BASH_SOURCE[0]}")/../tests/wintools/hostside.sh" sweep
[ -n "$report" ] && [ -f "$report" ] && cat "$report"
exit $rc
