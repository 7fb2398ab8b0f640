#!/usr/bin/env bash
# The Windows edition, made and tested on this Debian machine, in one command:
#
#     scripts/windows.sh
#
#  1. installs what is missing (MinGW-w64, Wine, NSIS, Xvfb, icoutils);
#  2. gets the Windows Qt into a cache folder: unpacked from the ready build in the winsdk folder,
#     or, where that is missing, built from Debian's qtbase source and the qtserialport source;
#  3. builds VantrelVCom.exe, Parvex.exe, VantrelVComService.exe and the Windows tests into build-win/;
#  4. deploys the three programs in windeployqt's layout into build-win/deploy/;
#  5. runs the tests under Wine (a prefix of its own in build-win/wine, an Xvfb display of its
#     own), checks the icon resource, and starts the deployed program;
#  6. makes build-win/VantrelVCom-1.0.0-setup.exe and tests it under Wine: silent install, a start
#     from the shortcut's folder, silent uninstall; then with the service (/SERVICE): installed and
#     running, answering, kept by an update, removed by the uninstaller.
#
# Environment (all optional):
#   VCOM_WINSDK          folder with qt-5.15.8-mingw64.tar.xz and the qtserialport source
#                        (default: shared/winsdk beside the repository)
#   VCOM_WINQT_CACHE     where the Windows Qt is kept (default: ~/.cache/vantrelvcom)
#   VCOM_WINQT_FROM_SOURCE=1   build Qt from source even when the ready build is there
#   VCOM_BUILD_WIN       the build folder (default: build-win in the repository)
set -euo pipefail
# A step that fails inside $(...) fails the script too.
shopt -s inherit_errexit
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

QT_VERSION=5.15.8
MINGW=x86_64-w64-mingw32
WINE=/usr/lib/wine/wine64
WINSDK=${VCOM_WINSDK:-$(dirname "$VCOM_ROOT")/shared/winsdk}
CACHE=${VCOM_WINQT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vantrelvcom}
BUILD=${VCOM_BUILD_WIN:-$VCOM_ROOT/build-win}
DEPLOY=$BUILD/deploy
SETUP=$BUILD/VantrelVCom-1.0.0-setup.exe
# The MinGW runtime DLLs of the posix variant, which the programs link.
RUNTIME_DIRS=(/usr/lib/gcc/$MINGW/12-posix /usr/$MINGW/lib)

say() { echo "== $*"; }
die() { echo "windows.sh: $*" >&2; exit 1; }

# ---- 1. Packages ------------------------------------------------------------------------------

vcom_install_deps g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis xvfb xauth \
    icoutils xz-utils python3

# ---- 2. The Windows Qt ------------------------------------------------------------------------

# Checks a file against the SHA256SUMS beside it, when there is one.
verify() {
    local file=$1 sums
    sums=$(dirname "$file")/SHA256SUMS
    [ -f "$sums" ] || return 0
    (cd "$(dirname "$file")" && grep " $(basename "$file")\$" SHA256SUMS | sha256sum -c --quiet -) \
        || die "$file does not match $sums"
}

unpack_qt() {
    local tarball=$1 dir=$2
    verify "$tarball"
    rm -rf "$dir" "$dir.tmp"
    mkdir -p "$dir.tmp"
    tar xJf "$tarball" -C "$dir.tmp"
    mv "$dir.tmp/vcom-winqt" "$dir"
    rmdir "$dir.tmp"
    touch "$dir/.complete"
}

# Debian's qtbase source, without its patches, and the qtserialport source from the winsdk
# folder (Debian's source package of it is not reachable from here). The source index is kept in
# a private apt state folder: the machine's own apt configuration is not changed.
build_qt() {
    local prefix=$1 work=$1.work serialport=$WINSDK/qtserialport-everywhere-src-$QT_VERSION.tar.xz
    [ -f "$serialport" ] || die "no Windows Qt and no $serialport to build one from"
    verify "$serialport"
    vcom_install_deps perl python3 make g++ dpkg-dev
    rm -rf "$prefix" "$work"
    mkdir -p "$work/apt/lists/partial" "$work/src"

    local codename uris
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    uris=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' 'Identifier: Packages' \
        | awk -v c="$codename" '$2 == c { print $1 }' | sort -u)
    [ -n "$uris" ] || die "no package mirror for $codename in the apt configuration"
    for uri in $uris; do echo "deb-src $uri $codename main"; done >"$work/apt/sources.list"
    local apt=(-o Dir::Etc::SourceList="$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::Lists="$work/apt/lists")
    say "Qt from source: fetching Debian's qtbase-opensource-src"
    apt-get "${apt[@]}" update -q
    (cd "$work/src" && apt-get "${apt[@]}" source --download-only -q qtbase-opensource-src)
    local orig
    orig=$(ls "$work/src"/qtbase-opensource-src_"$QT_VERSION"*.orig.tar.xz 2>/dev/null | head -1)
    [ -n "$orig" ] || die "Debian's qtbase source is not $QT_VERSION: $(ls "$work/src")"
    tar xJf "$orig" -C "$work/src"
    tar xJf "$serialport" -C "$work/src"

    say "Qt from source: qtbase (about 20 minutes on 2 cores)"
    mkdir -p "$work/qtbase-build"
    # Debian's source lacks the iaccessible2 and wintab folders, hence those two features off.
    (cd "$work/qtbase-build" && nice "$work/src/qtbase-everywhere-src-$QT_VERSION/configure" \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$MINGW- -prefix "$prefix" \
        -opensource -confirm-license -release -shared -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype \
        -qt-harfbuzz -no-sql-sqlite -no-sql-odbc -no-feature-accessibility \
        -no-feature-tabletevent -no-feature-vulkan \
        && nice make -j2 && make install)

    say "Qt from source: qtserialport"
    # An empty .git makes qmake run syncqt, which writes the forwarding headers.
    mkdir -p "$work/src/qtserialport-everywhere-src-$QT_VERSION/.git" "$work/qtserialport-build"
    (cd "$work/qtserialport-build" \
        && "$prefix/bin/qmake" "$work/src/qtserialport-everywhere-src-$QT_VERSION/qtserialport.pro" \
        && nice make -j2 && make install)
    [ -f "$prefix/lib/cmake/Qt5SerialPort/Qt5SerialPortConfig.cmake" ] || die "the Qt build did not finish"
    rm -rf "$work"
    touch "$prefix/.complete"
}

# Prints the Windows Qt's folder, getting it first where it is missing.
windows_qt() {
    local tarball=$WINSDK/qt-$QT_VERSION-mingw64.tar.xz
    local ready=$CACHE/qt-$QT_VERSION-mingw64 built=$CACHE/qt-$QT_VERSION-mingw64-built
    mkdir -p "$CACHE"
    if [ "${VCOM_WINQT_FROM_SOURCE:-0}" != 1 ] && [ -f "$tarball" ]; then
        # The stamp is newer than the tarball once it was unpacked whole.
        if [ ! "$ready/.complete" -nt "$tarball" ]; then
            say "Unpacking the Windows Qt into $ready" >&2
            unpack_qt "$tarball" "$ready" >&2
        fi
        echo "$ready"
    else
        [ -f "$built/.complete" ] || build_qt "$built" >&2
        echo "$built"
    fi
}

QT=$(windows_qt)
say "Windows Qt: $QT"

# ---- 3. Build ---------------------------------------------------------------------------------

say "Building into $BUILD"
start=$SECONDS
cmake -S "$VCOM_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$VCOM_ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$QT" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$VCOM_ROOT/scripts/wine-run.sh" >/dev/null
cmake --build "$BUILD" -j 2
echo "built in $((SECONDS - start)) s"

# ---- 4. Deploy --------------------------------------------------------------------------------

# The DLLs a Windows file imports, by name.
imports() { $MINGW-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }

# Copies into $DEPLOY every DLL that the given files need, and what those need in turn, from the
# Qt and MinGW folders; the system's own DLLs are found in neither and stay out.
deploy_dlls() {
    local queue=("$@") file dll dir found
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        for dll in $(imports "$file"); do
            [ -f "$DEPLOY/$dll" ] && continue
            found=""
            for dir in "$QT/bin" "${RUNTIME_DIRS[@]}"; do
                [ -f "$dir/$dll" ] && found=$dir/$dll && break
            done
            [ -n "$found" ] || continue
            cp "$found" "$DEPLOY/"
            queue+=("$DEPLOY/$dll")
        done
    done
}

say "Deploying into $DEPLOY"
rm -rf "$DEPLOY"
mkdir -p "$DEPLOY/platforms" "$DEPLOY/styles" "$DEPLOY/imageformats" "$DEPLOY/translations"
cp "$BUILD/app/VantrelVCom.exe" "$BUILD/installer/Parvex.exe" "$BUILD/service/VantrelVComService.exe" "$DEPLOY/"
# Qt's own texts (a message box's buttons) in Russian, from Debian's build of the same Qt version:
# the program looks for them in "translations" beside itself. Its English texts are English as
# written in Qt.
cp /usr/share/qt5/translations/qtbase_ru.qm "$DEPLOY/translations/"
cp "$QT/plugins/platforms/qwindows.dll" "$DEPLOY/platforms/"
cp "$QT/plugins/styles/qwindowsvistastyle.dll" "$DEPLOY/styles/"
cp "$QT/plugins/imageformats/"{qgif,qico,qjpeg}.dll "$DEPLOY/imageformats/"
deploy_dlls "$DEPLOY"/*.exe "$DEPLOY"/*/*.dll
(cd "$DEPLOY" && find . -type f | sort | sed 's|^\./|    |')

# ---- 5. Tests under Wine ----------------------------------------------------------------------

XVFB_PID=""
cleanup() {
    # Only what this script started: the wineserver of its own prefix, its own Xvfb.
    [ -d "${WINEPREFIX:-}" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

# A display of our own: the first free number from :71 on.
for n in $(seq 71 120); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -nolisten tcp -screen 0 1280x800x24 >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
        export DISPLAY=:$n
        break
    fi
    XVFB_PID=""
done
[ -n "$XVFB_PID" ] || die "no free X display from :71 to :120"

export WINEPREFIX=$BUILD/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export VCOM_WINE=$WINE
# Every Wine process of these steps, Wine's services.exe too, has the tests' pty modem answer
# (tests/wintools/ptymodem.c): the services it starts take their host environment from it, not
# from the test that asks for them.
export LD_PRELOAD=$BUILD/tests/wintools/libptymodem.so
# The tests run from the build tree: Qt's DLLs and plugins from the Qt folder.
export WINEPATH="Z:$QT/bin;Z:${RUNTIME_DIRS[0]};Z:${RUNTIME_DIRS[1]}" QT_PLUGIN_PATH="Z:$QT/plugins"
wine() { "$WINE" "$@"; }
unixpath() { wine winepath.exe -u "$1" 2>/dev/null | tr -d '\r'; }

say "Wine prefix $WINEPREFIX, display $DISPLAY"
rm -rf "$WINEPREFIX"
wine wineboot.exe -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w
# No window manager runs on our display: Wine would wait two seconds at every window hidden (each
# dialog closed) for one to acknowledge it. Windows not managed are hidden at once.
wine reg.exe add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null

# The user's own settings, which no test may change.
SETTINGS='HKCU\Software\Vantrel\Tovimex'
wine reg.exe add "$SETTINGS" /v WorkDir /t REG_SZ /d 'D:\user folder' /f >/dev/null
wine reg.exe add "$SETTINGS" /v AutoLoad /t REG_SZ /d false /f >/dev/null
wine reg.exe add "$SETTINGS" /v Logic /t REG_DWORD /d 1 /f >/dev/null
settings() { wine reg.exe query "$SETTINGS" /s | tr -d '\r'; }
before=$(settings)

say "Tests under Wine"
start=$SECONDS
# The long variants are the Linux suite's, as in test.sh.
# Qt's Russian texts beside the tests, where the program looks for them as beside itself.
mkdir -p "$BUILD/tests/translations"
cp /usr/share/qt5/translations/qtbase_ru.qm "$BUILD/tests/translations/"
ctest --test-dir "$BUILD" --output-on-failure -LE long
echo "tests ran in $((SECONDS - start)) s"
[ "$(settings)" = "$before" ] || die "the tests changed $SETTINGS:
$(settings)"
echo "OK   the user's settings under $SETTINGS are as they were"

say "Checks of the built program"
# The icon resource IDI_ICON1: the 16, 32 and 48 pixel images of net_service.ico, 32 bits each.
ICO=$BUILD/IDI_ICON1.ico
wrestool -x -t 14 -n IDI_ICON1 "$DEPLOY/VantrelVCom.exe" >"$ICO"
sizes=$(icotool -l "$ICO" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2@\3/p' | tr '\n' ' ')
[ "$sizes" = "16x16@32 32x32@32 48x48@32 " ] || die "IDI_ICON1 holds: $sizes"
rm -rf "$BUILD/icons" && mkdir -p "$BUILD/icons/exe" "$BUILD/icons/ico"
for i in 1 2 3; do
    icotool -x -i $i -o "$BUILD/icons/exe/$i.png" "$ICO"
    icotool -x -i $i -o "$BUILD/icons/ico/$i.png" "$VCOM_ROOT/app/images/net_service.ico"
    cmp -s "$BUILD/icons/exe/$i.png" "$BUILD/icons/ico/$i.png" || die "IDI_ICON1 image $i differs from net_service.ico"
done
echo "OK   IDI_ICON1: $sizes(the images of net_service.ico)"
subsystem() { $MINGW-objdump -p "$1" | sed -n 's/^Subsystem.*(\(.*\))$/\1/p'; }
[ "$(subsystem "$DEPLOY/VantrelVCom.exe")" = "Windows GUI" ] || die "VantrelVCom.exe is not a GUI program"
[ "$(subsystem "$DEPLOY/Parvex.exe")" = "Windows CUI" ] || die "Parvex.exe is not a console program"
[ "$(subsystem "$DEPLOY/VantrelVComService.exe")" = "Windows CUI" ] || die "VantrelVComService.exe is not a console program"
imports "$DEPLOY/VantrelVComService.exe" | grep -qiE '^Qt5(Gui|Widgets)\.dll$' && die "VantrelVComService.exe links Qt Gui or Widgets"
echo "OK   VantrelVCom.exe is a GUI program (WinMain), Parvex.exe and VantrelVComService.exe console ones (the service without Qt Gui)"

# Starts a VantrelVCom.exe with the fake setupc.exe in its com0com folder, from folder $2, and
# waits until the window has asked setupc.exe for the port pairs: that shows WinMain reached the
# program's main() and the window was built. Then ends the program.
started_from() {
    local exe=$1 from=$2 com0com pid
    com0com=$(dirname "$exe")/com0com
    mkdir -p "$com0com"
    cp "$BUILD/tests/wintools/setupc.exe" "$com0com/"
    rm -f "$com0com/args" "$com0com/cwd"
    (cd "$from" && WINEPATH="" QT_PLUGIN_PATH="" exec "$WINE" "$(wine winepath.exe -w "$exe" | tr -d '\r')") \
        >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        [ -s "$com0com/cwd" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    wine taskkill.exe /f /im VantrelVCom.exe >/dev/null 2>&1 || true
    wait "$pid" 2>/dev/null || true
    [ -s "$com0com/cwd" ] || die "$exe did not start (no setupc.exe request)"
    [ "$(tr '\0' ' ' <"$com0com/args")" = "list " ] || die "setupc.exe got: $(tr '\0' ' ' <"$com0com/args")"
    STARTED_IN=$(cat "$com0com/cwd")
    rm -rf "$com0com"
}

# The deployed folder alone, without the Qt folder on the DLL path: it holds all it needs.
mkdir -p "$BUILD/check/start"
rm -rf "$BUILD/check/program"
cp -r "$DEPLOY" "$BUILD/check/program"
started_from "$BUILD/check/program/VantrelVCom.exe" "$BUILD/check/start"
echo "OK   the deployed VantrelVCom.exe starts on its own DLLs and runs com0com\\setupc.exe list (in $STARTED_IN)"

# ---- 6. Installer -----------------------------------------------------------------------------

say "Installer"
FILES=$BUILD/deployed-files.nsh
(cd "$DEPLOY" && find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|') >"$FILES"
makensis -V2 -DVERSION=1.0.0 -DDEPLOY="$DEPLOY" -DFILES="$FILES" -DOUTFILE="$SETUP" \
    "$VCOM_ROOT/packaging/vantrelvcom.nsi"
echo "$(basename "$SETUP"): $(stat -c %s "$SETUP") bytes"

# A shell link's start folder and its target (the local path of its link info).
lnk() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
flags = struct.unpack_from('<I', data, 0x14)[0]
pos = 0x4C
if flags & 0x1:                      # an item id list
    pos += 2 + struct.unpack_from('<H', data, pos)[0]
target = ''
if flags & 0x2:                      # link info, with the target's local path
    size, header, _, _, local = struct.unpack_from('<5I', data, pos)
    if header >= 0x24:
        start = end = pos + struct.unpack_from('<I', data, pos + 0x1C)[0]
        while data[end:end + 2] != b'\0\0':
            end += 2
        target = data[start:end].decode('utf-16-le')
    else:
        target = data[pos + local:data.index(b'\0', pos + local)].decode('latin-1')
    pos += size
strings = {}
for bit, name in ((0x4, 'name'), (0x8, 'relative'), (0x10, 'workdir'), (0x20, 'args'), (0x40, 'icon')):
    if flags & bit:
        n = struct.unpack_from('<H', data, pos)[0]
        pos += 2
        if flags & 0x80:
            strings[name] = data[pos:pos + 2 * n].decode('utf-16-le')
            pos += 2 * n
        else:
            strings[name] = data[pos:pos + n].decode('latin-1')
            pos += n
# Some writers count the closing NUL in.
print((target if sys.argv[2] == 'target' else strings.get(sys.argv[2], '')).rstrip('\0'))
PY
}

win_path() { wine winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VantrelVCom'
INST=$WINEPREFIX/drive_c/Program\ Files/Vantrel/VantrelVCom
APPDATA_WIN=$(wine cmd.exe /c echo %APPDATA% 2>/dev/null | tr -d '\r')
LINK=$(unixpath "$APPDATA_WIN\\Microsoft\\Windows\\Start Menu\\Programs\\VantrelVCom\\VantrelVCom.lnk")

wine "$(win_path "$SETUP")" /S
/usr/lib/wine/wineserver -w
for f in $(cd "$DEPLOY" && find . -type f | sed 's|^\./||'); do
    cmp -s "$DEPLOY/$f" "$INST/$f" || die "installed: $f is missing or differs"
done
[ -f "$INST/uninstall.exe" ] || die "installed: no uninstall.exe"
extra=$(cd "$INST" && find . -type f | sed 's|^\./||' | grep -vxF -f <(cd "$DEPLOY" && find . -type f | sed 's|^\./||') | grep -vx uninstall.exe || true)
[ -z "$extra" ] || die "installed files that were not deployed: $extra"
echo "OK   silent install: $(cd "$INST" && find . -type f | wc -l) files in C:\\Program Files\\Vantrel\\VantrelVCom"
! wine sc.exe query VantrelVComService >/dev/null 2>&1 || die "a plain install installed the service"
echo "OK   no service unless chosen"
[[ $(wine reg.exe query "$UNINSTALL" /v UninstallString 2>/dev/null) == *uninstall.exe* ]] \
    || die "no uninstaller in the list of programs ($UNINSTALL)"
echo "OK   uninstaller registered under $UNINSTALL"
[ -f "$LINK" ] || die "no Start-menu shortcut $LINK"
target=$(lnk "$LINK" target)
workdir=$(lnk "$LINK" workdir)
[ "$target" = 'C:\Program Files\Vantrel\VantrelVCom\VantrelVCom.exe' ] || die "the shortcut starts $target"
[ "$workdir" = "$APPDATA_WIN\\Vantrel\\VantrelVCom" ] || die "the shortcut starts in $workdir"
[ -d "$(unixpath "$workdir")" ] || die "the shortcut's start folder $workdir was not made"
started_from "$INST/VantrelVCom.exe" "$(unixpath "$workdir")"
[ "$STARTED_IN" = "$workdir" ] || die "the installed program ran in $STARTED_IN, not $workdir"
echo "OK   the shortcut starts $target in $workdir, and it runs there"

wine "$INST/uninstall.exe" /S
/usr/lib/wine/wineserver -w
[ ! -e "$INST" ] || die "uninstall left: $(cd "$INST" && find . | tr '\n' ' ')"
[ ! -e "$(dirname "$INST")" ] || die "uninstall left C:\\Program Files\\Vantrel"
[ ! -e "$LINK" ] || die "uninstall left the shortcut"
! wine reg.exe query "$UNINSTALL" >/dev/null 2>&1 || die "uninstall left $UNINSTALL"
echo "OK   silent uninstall removed the program, its shortcut and its entry in the list of programs"

# The service component, chosen in a silent install by /SERVICE. The service keeps running, so
# the install is waited for by its own process, not by the end of every Wine process.
SERVICE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\VantrelVComService'
SOURCE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VantrelVComService'
SERVICE_DIR_WIN='C:\ProgramData\Vantrel\VantrelVCom'
SERVICE_DIR=$(unixpath "$SERVICE_DIR_WIN")
service_state() { wine sc.exe query VantrelVComService 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p'; }
# The host process of the service of our prefix (other prefixes may run one too).
service_pid() {
    local p
    for p in $(pgrep -f 'VantrelVComService\.exe --service'); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
    done
    true
}
# Waits up to 10 s for the service's state, as sc.exe tells it.
wait_state() {
    for _ in $(seq 100); do
        [ "$(service_state)" = "$1" ] && return 0
        sleep 0.1
    done
    die "the service is $(service_state), not $1"
}
status_of_installed() {
    wine "$INST/VantrelVComService.exe" --status 2>&1 | tr -d '\r' | head -1
}
# The service answers in Wine's language: English where Wine's locale is English, else Russian.
answers_no_connections() {
    case "$(status_of_installed)" in
    "Папка C:/ProgramData/Vantrel/VantrelVCom: соединений 0" | "Folder C:/ProgramData/Vantrel/VantrelVCom, connections: 0") return 0 ;;
    *) return 1 ;;
    esac
}

wine "$(win_path "$SETUP")" /S /SERVICE || die "the install with /SERVICE failed ($?)"
wait_state RUNNING
[ -d "$SERVICE_DIR" ] || die "no service folder $SERVICE_DIR_WIN"
image=$(wine reg.exe query "$SERVICE_KEY" /v ImagePath | tr -d '\r' | sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p')
[ "$image" = "\"C:\\Program Files\\Vantrel\\VantrelVCom\\VantrelVComService.exe\" --service --dir \"$SERVICE_DIR_WIN\"" ] \
    || die "the service runs: $image"
wine reg.exe query "$SOURCE_KEY" /v EventMessageFile >/dev/null 2>&1 || die "no event log source $SOURCE_KEY"
answers_no_connections \
    || die "the installed service answers: $(status_of_installed)"
echo "OK   /S /SERVICE: the service runs from the program's folder for $SERVICE_DIR_WIN and answers --status"

# An update over the running service: stopped and removed for its files, then put back.
before=$(service_pid)
wine "$(win_path "$SETUP")" /S || die "the update failed ($?)"
wait_state RUNNING
[ -n "$(service_pid)" ] && [ "$(service_pid)" != "$before" ] || die "the update did not restart the service"
answers_no_connections \
    || die "the updated service answers: $(status_of_installed)"
echo "OK   an update (/S) replaces the program under the running service and starts it again"

echo '[]' >"$SERVICE_DIR/pipes.json"
wine "$INST/uninstall.exe" /S
/usr/lib/wine/wineserver -w
! wine sc.exe query VantrelVComService >/dev/null 2>&1 || die "uninstall left the service"
! wine reg.exe query "$SOURCE_KEY" >/dev/null 2>&1 || die "uninstall left the event log source"
[ -z "$(service_pid)" ] || die "the service still runs after the uninstall"
[ ! -e "$INST" ] || die "uninstall left: $(cd "$INST" && find . | tr '\n' ' ')"
[ "$(cat "$SERVICE_DIR/pipes.json")" = "[]" ] || die "uninstall took $SERVICE_DIR_WIN\\pipes.json"
echo "OK   uninstall stopped and removed the service and its event log source, and left $SERVICE_DIR_WIN\\pipes.json"
say "Windows edition: done"
