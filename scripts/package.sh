#!/usr/bin/env bash
# The Linux package, made and checked:
#
#     scripts/package.sh            unpack the .deb into a staging root and check it there
#     scripts/package.sh --dpkg     install it with dpkg -i instead (as root), and remove it after
#
# Builds build/ (as test.sh does), makes build/package/vantrelvcom_1.0.0_amd64.deb with CPack,
# checks its layout, its dependencies and its menu entry, then starts the installed program
# offscreen once, with a port pair made by the installed stand-in, and sees it list the pair.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mode=stage
[ "${1:-}" = --dpkg ] && mode=dpkg

say() { echo "== $*"; }
die() { echo "package.sh: $*" >&2; exit 1; }

vcom_install_deps dpkg-dev desktop-file-utils file
vcom_build "$VCOM_BUILD" >/dev/null

say "Package"
rm -rf "$VCOM_BUILD/package"
cpack --config "$VCOM_BUILD/CPackConfig.cmake" -B "$VCOM_BUILD/package" >/dev/null
DEB=$VCOM_BUILD/package/vantrelvcom_1.0.0_amd64.deb
[ -f "$DEB" ] || die "no $DEB"
echo "$(basename "$DEB"): $(stat -c %s "$DEB") bytes"

WORK=$(mktemp -d /tmp/vcom-package.XXXXXX)
PROGRAM_PID=""
cleanup() {
    [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null
    # The pair the check made: the stand-in removes its socat process.
    [ -x "${SETUPC:-}" ] && XDG_RUNTIME_DIR=$WORK/run "$SETUPC" uninstall >/dev/null 2>&1
    [ "$mode" = dpkg ] && dpkg -r vantrelvcom >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT

# Layout: exactly these files, the program and the stand-in executable.
expected="./usr/bin/vantrelvcom -> ../lib/vantrelvcom/VantrelVCom
./usr/lib/vantrelvcom/VantrelVCom
./usr/lib/vantrelvcom/com0com/setupc.exe
./usr/share/applications/vantrelvcom.desktop
./usr/share/icons/hicolor/16x16/apps/vantrelvcom.png
./usr/share/icons/hicolor/256x256/apps/vantrelvcom.png
./usr/share/icons/hicolor/32x32/apps/vantrelvcom.png
./usr/share/icons/hicolor/48x48/apps/vantrelvcom.png"
got=$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' | sort)
[ "$got" = "$expected" ] || die "the package holds:
$got"
for f in usr/lib/vantrelvcom/VantrelVCom usr/lib/vantrelvcom/com0com/setupc.exe; do
    [[ $(dpkg-deb -c "$DEB" | grep " ./$f\$") == -rwxr-xr-x* ]] || die "$f is not executable"
done
echo "OK   layout: $(wc -l <<<"$got") files, /usr/bin/vantrelvcom links to /usr/lib/vantrelvcom/VantrelVCom"

depends=$(dpkg-deb -f "$DEB" Depends)
for lib in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5serialport5 socat qttranslations5-l10n; do
    [[ ", $depends," == *", $lib"[\ ,]* ]] || die "no dependency on $lib: $depends"
done
echo "OK   depends: $depends"

if [ "$mode" = dpkg ]; then
    [ "$(id -u)" -eq 0 ] || die "--dpkg needs root"
    dpkg -i "$DEB" >/dev/null
    ROOT=""
else
    # The dependencies dpkg would ask for are all installed here.
    dpkg --dry-run -i "$DEB" >/dev/null || die "dpkg would not install $DEB"
    ROOT=$WORK/root
    dpkg-deb -x "$DEB" "$ROOT"
fi
SETUPC=$ROOT/usr/lib/vantrelvcom/com0com/setupc.exe

desktop-file-validate "$ROOT/usr/share/applications/vantrelvcom.desktop"
entry=$ROOT/usr/share/applications/vantrelvcom.desktop
[ "$(sed -n 's/^Exec=//p' "$entry")" = vantrelvcom ] || die "the menu entry starts $(sed -n 's/^Exec=//p' "$entry")"
[ "$(sed -n 's/^Icon=//p' "$entry")" = vantrelvcom ] || die "the menu entry's icon is $(sed -n 's/^Icon=//p' "$entry")"
for size in 16 32 48 256; do
    [ "$(file -b "$ROOT/usr/share/icons/hicolor/${size}x${size}/apps/vantrelvcom.png" | cut -d, -f2)" = " $size x $size" ] \
        || die "the ${size}x$size icon is not that size"
done
echo "OK   menu entry: valid, starts vantrelvcom, icon vantrelvcom in 16, 32, 48 and 256 px"

say "The installed program"
# A pair made by the installed stand-in, in a virtual-port folder of this check's own.
mkdir -m 700 "$WORK/run" "$WORK/home" "$WORK/start"
export XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/home
out=$("$SETUPC" "install PortName=COM5 PortName=COM6")
[[ $out == *'logged as "in use"'* ]] || die "the stand-in made no pair: $out"
listing=$("$SETUPC" list)

# The program mirrors its log pane to the logging category vantrelvcom.log.
(cd "$WORK/start" && QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='vantrelvcom.log.debug=true' \
    QT_MESSAGE_PATTERN='%{category}: %{message}' exec "$ROOT/usr/bin/vantrelvcom") >"$WORK/log" 2>&1 &
PROGRAM_PID=$!
for _ in $(seq 150); do
    grep -q '^vantrelvcom.log: Пара 0: COM5-COM6$' "$WORK/log" && break
    kill -0 "$PROGRAM_PID" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$PROGRAM_PID" 2>/dev/null || die "the installed program ended: $(cat "$WORK/log")"
kill "$PROGRAM_PID"
wait "$PROGRAM_PID" 2>/dev/null || true
PROGRAM_PID=""
grep -q '^vantrelvcom.log: Пара 0: COM5-COM6$' "$WORK/log" \
    || die "the program did not list the pair ($(tr '\n' ' ' <<<"$listing")); its log pane said:
$(sed -n 's/^vantrelvcom.log: //p' "$WORK/log")"
echo "OK   the installed program runs from $WORK/start and lists \"Пара 0: COM5-COM6\""
say "Package: done"
