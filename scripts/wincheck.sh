#!/usr/bin/env bash
# Compile every unit of app/ and installer/ for Windows, syntax only, on this Linux machine:
# MinGW-w64 against Debian's Qt 5 headers, so the Q_OS_WIN / WIN32 branches are compiled too.
#
#     scripts/wincheck.sh BUILD_DIR
#
# BUILD_DIR is a configured and built CMake build of this tree: its moc/uic output (ui_*.h) is
# used as is. Installs nothing: needs g++-mingw-w64-x86-64-posix (and, for the icon resource,
# windres from binutils-mingw-w64-x86-64). Exits non-zero if any unit fails to compile.
set -uo pipefail
shopt -s nullglob

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CXX=x86_64-w64-mingw32-g++-posix
WINDRES=x86_64-w64-mingw32-windres
QT=/usr/include/x86_64-linux-gnu/qt5

die() { echo "wincheck: $*" >&2; exit 2; }
[ $# -eq 1 ] || die "usage: $0 BUILD_DIR"
BUILD=$(cd "$1" 2>/dev/null && pwd) || die "no build folder $1"
[ -d "$BUILD/app/vcomcore_autogen/include" ] || die "$BUILD is not a built tree (no app/vcomcore_autogen): build it first"
command -v "$CXX" >/dev/null || die "$CXX not found (apt-get install g++-mingw-w64-x86-64-posix)"
[ -f "$QT/QtCore/qglobal.h" ] || die "no Qt 5 headers in $QT (apt-get install qtbase5-dev libqt5serialport5-dev)"

# gnu++17, as CMake builds: in strict ISO mode MinGW defines _WIN32 but not WIN32.
# UNICODE/_UNICODE: the wide Win32 API, as Qt's own Windows builds use.
# Qt's headers via -isystem, as CMake passes them: their Windows-only warnings (dllimport
# redeclarations) are not ours; warnings from our own code still show.
# No -fPIC: Qt asks for it on ELF targets only, and MinGW ignores it.
FLAGS=(-fsyntax-only -std=gnu++17 -Wall -Wextra
       -DUNICODE -D_UNICODE -DQT_NO_DEBUG
       -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_NETWORK_LIB -DQT_SERIALPORT_LIB
       -isystem "$QT")
for m in QtCore QtGui QtWidgets QtNetwork QtSerialPort; do
    FLAGS+=(-isystem "$QT/$m")
done

# The include path of a source folder: itself, its build folder, and every target's moc/uic
# output there (<target>_autogen/include holds ui_*.h, <target>_autogen/<hash>/ the moc files).
includes() {
    INC=(-I"$ROOT/$1" -I"$BUILD/$1")
    for a in "$BUILD/$1"/*_autogen/ "$BUILD/$1"/*_autogen/*/; do
        INC+=(-I"${a%/}")
    done
}

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
failed=0

# check NAME COMMAND...: one line per check, with whatever the tool said below it.
check() {
    local name=$1 out
    shift
    if out=$("$@" 2>&1); then
        echo "OK      $name${out:+ (with warnings)}"
    else
        echo "FAILED  $name"
        failed=1
    fi
    [ -z "$out" ] || sed 's/^/    /' <<<"$out"
}

# A compile that is not a Windows one must not pass quietly.
cat >"$TMP/probe.cpp" <<'PROBE'
#include <QtGlobal>
#ifndef Q_OS_WIN
#error "Q_OS_WIN is not defined: this is not a Windows compile"
#endif
#ifndef WIN32
#error "WIN32 is not defined: this is not a Windows compile"
#endif
PROBE
check "probe (Q_OS_WIN, WIN32)" "$CXX" "${FLAGS[@]}" "$TMP/probe.cpp"

for dir in app installer; do
    includes "$dir"
    for src in "$ROOT/$dir"/*.cpp; do
        check "$dir/${src##*/}" "$CXX" "${FLAGS[@]}" "${INC[@]}" "$src"
    done
done

# The icon resource IDI_ICON1: compiled into a throwaway object file.
RC=$ROOT/app/images/vantrelvcom.rc
if ! command -v "$WINDRES" >/dev/null; then
    echo "SKIPPED app/images/vantrelvcom.rc ($WINDRES not found)"
elif [ -f "$RC" ]; then
    check "app/images/vantrelvcom.rc" "$WINDRES" -I "${RC%/*}" -i "$RC" -o "$TMP/vantrelvcom.res.o"
fi

exit $failed
