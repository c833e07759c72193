#!/bin/sh
# Renders the fixture frames with the Linux module natively and with the Windows module
# under Wine, then compares them.
#   cross_platform.sh NATIVE_FIXTURE NATIVE_MODULE WINE_RUN WIN_FIXTURE WIN_MODULE WORKDIR
set -e
native_fixture=$1 native_module=$2 wine_run=$3 win_fixture=$4 win_module=$5 work=$6
rm -rf "$work" && mkdir -p "$work/linux" "$work/windows"
"$native_fixture" render "$native_module" "$work/linux"
"$wine_run" "$win_fixture" render "$win_module" "$work/windows"
"$native_fixture" compare "$work/linux" "$work/windows"
