#!/bin/sh
# The module's texture bitmaps as the Linux build decodes them and as the system decodes the
# Windows module's resources under Wine: the rows must agree for every bitmap.
#   texture_bitmaps_cross_platform.sh NATIVE_TEST WINE_RUN WIN_TEST WIN_MODULE WORKDIR
set -e
native_test=$1 wine_run=$2 win_test=$3 win_module=$4 work=$5
rm -rf "$work" && mkdir -p "$work"
"$native_test" digest - "$work/linux.txt"
"$wine_run" "$win_test" digest "$win_module" "$work/windows.txt"
diff "$work/linux.txt" "$work/windows.txt"
echo "texture bitmaps: $(wc -l <"$work/linux.txt") decoded alike"
