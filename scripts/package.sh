#!/usr/bin/env bash
# The Linux package, made and checked:
#
#     scripts/package.sh            unpack the .deb into a staging root and check it there
#     scripts/package.sh --dpkg     install it with dpkg -i instead (as root), and remove it after
#
# Builds build/ (as test.sh does), makes build/package/vantrelvcom_1.0.0_amd64.deb with CPack,
# checks its layout, its dependencies and its menu entry, then starts the installed program
# offscreen once, with a port pair made by the installed stand-in, and sees it list the pair.
# The service: its systemd unit passes systemd-analyze verify, the installed VantrelVComService
# runs a folder without a display, answers --status and ends on SIGTERM; with --dpkg, the package
# made the service's user and folder and left the unit disabled.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mode=stage
[ "${1:-}" = --dpkg ] && mode=dpkg

say() { echo "== $*"; }
die() { echo "package.sh: $*" >&2; exit 1; }

vcom_install_deps dpkg-dev desktop-file-utils file systemd adduser
vcom_build "$VCOM_BUILD" >/dev/null

say "Package"
rm -rf "$VCOM_BUILD/package"
cpack --config "$VCOM_BUILD/CPackConfig.cmake" -B "$VCOM_BUILD/package" >/dev/null
DEB=$VCOM_BUILD/package/vantrelvcom_1.0.0_amd64.deb
[ -f "$DEB" ] || die "no $DEB"
echo "$(basename "$DEB"): $(stat -c %s "$DEB") bytes"

WORK=$(mktemp -d /tmp/vcom-package.XXXXXX)
PROGRAM_PID=""
SERVICE_PID=""
cleanup() {
    [ -n "$PROGRAM_PID" ] && kill "$PROGRAM_PID" 2>/dev/null
    [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null
    # The pair the check made: the stand-in removes its socat process.
    [ -x "${SETUPC:-}" ] && XDG_RUNTIME_DIR=$WORK/run "$SETUPC" uninstall >/dev/null 2>&1
    # Purged: its folder goes too (the check's pipes.json); the user stays, as Debian's do.
    [ "$mode" = dpkg ] && dpkg -P vantrelvcom >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT

# Layout: exactly these files, the programs and the stand-in executable.
expected="./usr/bin/VantrelVComService -> ../lib/vantrelvcom/VantrelVComService
./usr/bin/vantrelvcom -> ../lib/vantrelvcom/VantrelVCom
./usr/lib/systemd/system/vantrelvcom.service
./usr/lib/vantrelvcom/VantrelVCom
./usr/lib/vantrelvcom/VantrelVComService
./usr/lib/vantrelvcom/com0com/setupc.exe
./usr/share/applications/vantrelvcom.desktop
./usr/share/icons/hicolor/16x16/apps/vantrelvcom.png
./usr/share/icons/hicolor/256x256/apps/vantrelvcom.png
./usr/share/icons/hicolor/32x32/apps/vantrelvcom.png
./usr/share/icons/hicolor/48x48/apps/vantrelvcom.png"
got=$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' | sort)
[ "$got" = "$expected" ] || die "the package holds:
$got"
for f in usr/lib/vantrelvcom/VantrelVCom usr/lib/vantrelvcom/VantrelVComService usr/lib/vantrelvcom/com0com/setupc.exe; do
    [[ $(dpkg-deb -c "$DEB" | grep " ./$f\$") == -rwxr-xr-x* ]] || die "$f is not executable"
done
[[ $(dpkg-deb -c "$DEB" | grep " ./var/lib/vantrelvcom/\$") == d* ]] || die "no folder /var/lib/vantrelvcom"
for script in postinst prerm postrm; do
    dpkg-deb -I "$DEB" "$script" >/dev/null || die "no $script"
done
echo "OK   layout: $(wc -l <<<"$got") files and /var/lib/vantrelvcom; /usr/bin/vantrelvcom and /usr/bin/VantrelVComService link to /usr/lib/vantrelvcom; postinst, prerm, postrm"

depends=$(dpkg-deb -f "$DEB" Depends)
for lib in libqt5core5a libqt5gui5 libqt5widgets5 libqt5network5 libqt5serialport5 socat qttranslations5-l10n adduser; do
    [[ ", $depends," == *", $lib"[\ ,]* ]] || die "no dependency on $lib: $depends"
done
echo "OK   depends: $depends"

if [ "$mode" = dpkg ]; then
    [ "$(id -u)" -eq 0 ] || die "--dpkg needs root"
    # The check writes the service's pipes.json and purges the package afterwards.
    [ ! -e /var/lib/vantrelvcom/pipes.json ] || die "/var/lib/vantrelvcom/pipes.json exists: not checking over it"
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

# The program mirrors its log pane to the logging category vantrelvcom.log, each line after the
# time it was written. The checks read the texts in Russian, the language of any system that is
# not English.
PAIR_LINE='^vantrelvcom.log: [0-9]{2}:[0-9]{2}:[0-9]{2} Пара 0: COM5-COM6$'
(cd "$WORK/start" && LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='vantrelvcom.log.debug=true' \
    QT_MESSAGE_PATTERN='%{category}: %{message}' exec "$ROOT/usr/bin/vantrelvcom") >"$WORK/log" 2>&1 &
PROGRAM_PID=$!
for _ in $(seq 150); do
    grep -Eq "$PAIR_LINE" "$WORK/log" && break
    kill -0 "$PROGRAM_PID" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$PROGRAM_PID" 2>/dev/null || die "the installed program ended: $(cat "$WORK/log")"
kill "$PROGRAM_PID"
wait "$PROGRAM_PID" 2>/dev/null || true
PROGRAM_PID=""
grep -Eq "$PAIR_LINE" "$WORK/log" \
    || die "the program did not list the pair ($(tr '\n' ' ' <<<"$listing")); its log pane said:
$(sed -n 's/^vantrelvcom.log: //p' "$WORK/log")"
echo "OK   the installed program runs from $WORK/start and lists \"Пара 0: COM5-COM6\""

say "The installed service"
SERVICE=$ROOT/usr/bin/VantrelVComService
UNIT=$ROOT/usr/lib/systemd/system/vantrelvcom.service
# Nothing of the window: no Gui, no Widgets.
needed=$(objdump -p "$ROOT/usr/lib/vantrelvcom/VantrelVComService" | awk '/NEEDED/ { print $2 }' | tr '\n' ' ')
[[ $needed == *libQt5Core* && $needed != *Gui* && $needed != *Widgets* ]] || die "the service links: $needed"
echo "OK   VantrelVComService links $needed"
if [ "$mode" = dpkg ]; then
    verified=$UNIT
else
    # The unit names the installed program, which lives in the staging root here: verified as a
    # copy that names the staged one.
    mkdir "$WORK/unit"
    verified=$WORK/unit/vantrelvcom.service
    sed "s#/usr/lib/vantrelvcom/#$ROOT/usr/lib/vantrelvcom/#g" "$UNIT" >"$verified"
fi
# It exits with 0 for a key it ignores too (a typo, an option this systemd lacks): any word of
# it counts.
said=$(systemd-analyze verify "$verified" 2>&1) || die "systemd-analyze verify: $said"
[ -z "$said" ] || die "systemd-analyze verify: $said"
for key in "Restart=on-failure" "User=vantrelvcom" "SupplementaryGroups=dialout" \
    "ExecStart=/usr/lib/vantrelvcom/VantrelVComService --dir /var/lib/vantrelvcom"; do
    grep -qx "$key" "$UNIT" || die "the unit has no $key"
done
echo "OK   unit: systemd-analyze verify accepts it; $(grep -c '^Protect\|^Restrict\|^NoNewPrivileges\|^Private' "$UNIT") hardening options"

if [ "$mode" = dpkg ]; then
    getent passwd vantrelvcom >/dev/null || die "no user vantrelvcom"
    id -nG vantrelvcom | grep -qw dialout || die "vantrelvcom is not in dialout: $(id -nG vantrelvcom)"
    [ "$(stat -c '%U:%G %a' /var/lib/vantrelvcom)" = "vantrelvcom:vantrelvcom 750" ] \
        || die "/var/lib/vantrelvcom is $(stat -c '%U:%G %a' /var/lib/vantrelvcom)"
    enabled=$(systemctl is-enabled vantrelvcom.service 2>&1 || true)
    [ "$enabled" = disabled ] || die "the unit is $enabled"
    echo "OK   user vantrelvcom (in dialout) owns /var/lib/vantrelvcom (750); the unit is disabled"
    FOLDER=/var/lib/vantrelvcom
    # setpriv runs the program itself as the user (runuser would stand between it and SIGTERM).
    AS="setpriv --reuid=vantrelvcom --regid=vantrelvcom --init-groups --"
else
    FOLDER=$WORK/service
    mkdir "$FOLDER"
    AS=""
fi
# A folder with one connection that waits for its port: the service runs it with no display.
printf '[{"id":1,"name":"Check","note":"","port_work":"COM6","port_null":"%s","ipaddr":"127.0.0.1","ipport":9}]\n' \
    "$WORK/no-port" >"$FOLDER/pipes.json"
[ "$mode" = dpkg ] && chown vantrelvcom:vantrelvcom "$FOLDER/pipes.json"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 $AS "$SERVICE" --dir "$FOLDER" 2>"$WORK/service.log" &
SERVICE_PID=$!
for _ in $(seq 50); do
    grep -q 'канал управления' "$WORK/service.log" && break
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 0.1
done
status=$(LC_ALL=C.UTF-8 "$SERVICE" --dir "$FOLDER" --status) || die "--status failed; the service said: $(cat "$WORK/service.log")"
[[ $status == *"1   Check"*ждёт* ]] || die "--status said: $status"
kill -TERM "$SERVICE_PID"
wait "$SERVICE_PID" || die "the service ended with $?: $(cat "$WORK/service.log")"
SERVICE_PID=""
grep -q 'Останов: SIGTERM' "$WORK/service.log" || die "no stop line: $(cat "$WORK/service.log")"
[ "$(ls -A "$FOLDER")" = pipes.json ] || die "the service wrote into its folder: $(ls -A "$FOLDER")"
echo "OK   the installed service runs $FOLDER${AS:+ as vantrelvcom}, answers --status, ends on SIGTERM, writes nothing there"
say "Package: done"
