#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
source "$(dirname "$0")/scripts/common.sh"
vcom_install_deps
vcom_build "$VCOM_BUILD"
cd "$VCOM_BUILD"
ctest --output-on-failure -LE long
