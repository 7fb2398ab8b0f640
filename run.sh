#!/usr/bin/env bash
# Installs what is missing, builds, and starts VantrelVCom. The program keeps its connections in
# pipes.json in the folder it is started from, so start this script from where you want that file.
source "$(dirname "$0")/scripts/common.sh"
vcom_install_deps
vcom_build "$VCOM_BUILD" >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<MSG
VantrelVCom is built ($VCOM_BUILD/app/VantrelVCom), but there is no display to show its window
(neither DISPLAY nor WAYLAND_DISPLAY is set). To run it on a virtual X display:

    xvfb-run -s '-screen 0 1280x800x24' $0
MSG
    exit 1
fi
exec "$VCOM_BUILD/app/VantrelVCom" "$@"
