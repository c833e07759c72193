#!/bin/sh
# The frei0r filter in the real hosts, installed by make install into a temporary prefix:
# ffmpeg's frei0r filter and melt (one worker) load it and render a clip, unchanged when no
# parameter is set; for a look of every stage, the frames of ffmpeg, melt and tarnix render
# are byte-identical; two instances in one ffmpeg graph keep their own scratches; the
# Kdenlive and Shotcut metadata parse, match the filter, and a melt project with their
# defaults renders unchanged frames; make uninstall removes what make install put there.
#
#   frei0r_hosts.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/frei0r_hosts.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

root=$work/root
installed="bin/tarnix lib/tarnix/TarnixAVX2.avx lib/frei0r-1/tarnix.so share/kdenlive/effects/frei0r_tarnix.xml
           share/shotcut/qml/filters/tarnix/meta_tarnix.qml share/shotcut/qml/filters/tarnix/ui.qml"
make -s -C "$src" install INSTALL_FROM="$build" PREFIX=/usr DESTDIR="$root" >/dev/null
for f in $installed; do [ -f "$root/usr/$f" ] || fail "make install did not install $f"; done
export FREI0R_PATH="$root/usr/lib/frei0r-1"
unset TARNIX_MODULE  # the installed filter finds the installed module on its own
tarnix=$root/usr/bin/tarnix

# A small clip: 8 frames of 96 x 64 at 25 fps, kept losslessly.
ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v 8 -pix_fmt rgba -f rawvideo "$work/in.rgba"
ffmpeg -v error -f rawvideo -pix_fmt rgba -s 96x64 -r 25 -i "$work/in.rgba" -c:v ffv1 -pix_fmt bgr0 "$work/clip.mkv"
cat >"$work/profile" <<EOF
description=96x64 25 fps
frame_rate_num=25
frame_rate_den=1
width=96
height=64
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=3
display_aspect_den=2
colorspace=709
EOF

to_rgba() { ffmpeg -v error -y -i "$1" -f rawvideo -pix_fmt rgba "$2"; }
# ffmpeg's filter takes the values by position: the listing's defaults for those not given.
listing=$("$tarnix" params --frei0r)
positional() {
    printf '%s\n' "$listing" | awk -v given="$*" '
        BEGIN { n = split(given, a, " "); for (i = 1; i <= n; i++) { split(a[i], kv, "="); v[kv[1]] = kv[2] } last = -1 }
        $1 ~ /^[0-9]+$/ { name[$1] = $2; kind[$1] = $3; def[$1] = $4; if ($2 in v) last = $1 }
        END {
            s = ""
            for (i = 0; i <= last; i++) {
                x = (name[i] in v) ? v[name[i]] : def[i]
                if (kind[i] == "bool") x = (x + 0 >= 0.5) ? "y" : "n"
                s = s (i ? "|" : "") x
            }
            print s
        }'
}
# ffmpeg gives the filter its time in milliseconds, so fps is 25 / 1000 there. Frames it
# converts first lose their timestamps on the way in (the filter then counts them), so the
# frames go in as RGBA already, timed.
rgba_input="-f rawvideo -pix_fmt rgba -s 96x64 -r 25 -i $work/in.rgba"
with_ffmpeg() { # OUT NAME=VALUE...
    out=$1
    shift
    params=$(positional fps=0.025 "$@")
    # shellcheck disable=SC2086
    ffmpeg -v error -y $rgba_input -vf "frei0r=tarnix:$params" -f rawvideo -pix_fmt rgba "$out"
}
with_melt() { # OUT NAME=VALUE... ; one worker, every frame in order
    out=$1
    shift
    melt -silent -profile "$work/profile" "$work/clip.mkv" -filter frei0r.tarnix "$@" \
        -consumer avformat:"$work/melt.nut" vcodec=rawvideo pix_fmt=rgba real_time=-1 an=1 >"$work/melt.log" 2>&1 ||
        { cat "$work/melt.log"; fail "melt failed"; }
    to_rgba "$work/melt.nut" "$out"
}
with_melt_project() { # OUT PROJECT
    melt -silent -profile "$work/profile" "$2" \
        -consumer avformat:"$work/melt.nut" vcodec=rawvideo pix_fmt=rgba real_time=-1 an=1 >"$work/melt.log" 2>&1 ||
        { cat "$work/melt.log"; fail "melt failed on $2"; }
    to_rgba "$work/melt.nut" "$1"
}
with_tarnix() { # OUT --set NAME=VALUE...
    out=$1
    shift
    "$tarnix" render "$work/clip.mkv" "$work/tarnix.mkv" -q -y "$@"
    to_rgba "$work/tarnix.mkv" "$out"
}

# Nothing set: the frames come back as they went in.
with_ffmpeg "$work/ffmpeg.rgba"
cmp -s "$work/ffmpeg.rgba" "$work/in.rgba" || fail "ffmpeg with no parameters changed the frames"
with_melt "$work/melt.rgba"
cmp -s "$work/melt.rgba" "$work/in.rgba" || fail "melt with no parameters changed the frames"

# A look per line, in the filter's 0..1 and as tarnix takes it (each slider worked out by hand
# from its range), so that every stage is on in one of them. Dust at frequency 1 seeds the
# generator on every frame before the scratches draw.
same_everywhere() { # LOOK FILTER-VALUES -- TARNIX-SETTINGS
    look=$1
    shift
    values=""
    while [ "$1" != "--" ]; do values="$values $1"; shift; done
    shift
    sets=""
    for s in "$@"; do sets="$sets --set $s"; done
    # shellcheck disable=SC2086
    with_ffmpeg "$work/$look.ffmpeg" $values
    # shellcheck disable=SC2086
    with_melt "$work/$look.melt" $values
    # shellcheck disable=SC2086
    with_tarnix "$work/$look.tarnix" $sets
    cmp -s "$work/$look.tarnix" "$work/in.rgba" && fail "$look: tarnix left the frames unchanged"
    cmp -s "$work/$look.ffmpeg" "$work/$look.tarnix" || fail "$look: ffmpeg's frames differ from tarnix's"
    cmp -s "$work/$look.melt" "$work/$look.tarnix" || fail "$look: melt's frames differ from tarnix's"
    echo "$look: ffmpeg, melt and tarnix render the same frames"
}
same_everywhere tone doFading=1 fadeAmount=0.25 doFunk=1 funkOpacity=0.5 doSplotches=1 splotchNumber=0.05 \
    splotchesFrequency=1 doDust=1 blackNumber=0.03 whiteNumber=0.0305 dustFreq=1 doFlicker=1 flickerAmount=0.5 \
    doVignette=1 vignetteSize=0.5 doContrast=1 contrastAmount=0.2475 -- \
    doFading=on fadeAmount=50 doFunk=on funkOpacity=50 doSplotches=on splotchNumber=5 splotchesFrequency=100 \
    doDust=on blackNumber=30 whiteNumber=31 dustFreq=1 doFlicker=on flickerAmount=50 doVignette=on \
    vignetteSize=50.5 doContrast=on contrastAmount=-51
scratches="doDust=1 dustFreq=1 doGrain=1 amountGrain=1 doColorNoise=0 doDeepScratch=1 deepScratchNumber=0.2 \
    deepScratchDuration=0.0125 deepScratchColorR=0.5 doBasicScratch=1 basicScratchNumber=0.2 \
    basicScratchDuration=0.0125 doInvert=0 doGateweave=1 gateweaveAmplitude=0.5"
# shellcheck disable=SC2086
same_everywhere scratches $scratches -- \
    doDust=on dustFreq=1 doGrain=on amountGrain=1 doColorNoise=off doDeepScratch=on deepScratchNumber=10 \
    deepScratchDuration=4 deepScratchColorR=127.5 doBasicScratch=on basicScratchNumber=10 \
    basicScratchDuration=4 doInvert=off doGateweave=on gateweaveAmplitude=10
same_everywhere displacement doDisplacement=1 displacementAmount=0.4 -- doDisplacement=on displacementAmount=2
same_everywhere microscratches doMicro=1 microNumber=0.1 -- doMicro=on microNumber=500

# Frames converted on the way in reach the filter without a time: counted from 0 they are the
# same frames.
# shellcheck disable=SC2086
params=$(positional $scratches)
ffmpeg -v error -y -i "$work/clip.mkv" -vf "format=rgba,frei0r=tarnix:$params" -f rawvideo -pix_fmt rgba "$work/counted.rgba"
cmp -s "$work/counted.rgba" "$work/scratches.tarnix" || fail "ffmpeg's frames without a time differ from tarnix's"
echo "frames that reach the filter without a time are counted"

# Two instances in one graph, on the same frames: each renders what one instance alone does.
# shellcheck disable=SC2086
params=$(positional fps=0.025 $scratches)
# shellcheck disable=SC2086
ffmpeg -v error -y $rgba_input \
    -filter_complex "[0:v]format=rgba,split[a][b];[a]frei0r=tarnix:$params[x];[b]frei0r=tarnix:$params[y]" \
    -map "[x]" -f rawvideo -pix_fmt rgba "$work/first.rgba" -map "[y]" -f rawvideo -pix_fmt rgba "$work/second.rgba"
cmp -s "$work/first.rgba" "$work/scratches.tarnix" || fail "the first of two instances in one graph differs"
cmp -s "$work/second.rgba" "$work/scratches.tarnix" || fail "the second of two instances in one graph differs"
echo "two instances in one ffmpeg graph keep their own scratches"

# The editors' metadata: well formed, the filter's parameters with their ranges and defaults,
# and melt projects with those defaults leave the frames unchanged.
share=$root/usr/share
xmllint --noout "$share/kdenlive/effects/frei0r_tarnix.xml" || fail "the Kdenlive description does not parse"
qmllint "$share/shotcut/qml/filters/tarnix/meta_tarnix.qml" "$share/shotcut/qml/filters/tarnix/ui.qml" ||
    fail "the Shotcut filter does not parse"
melt -query filter=frei0r.tarnix >"$work/query.yml" 2>/dev/null
python3 "$src/tests/frei0r_metadata.py" "$share/kdenlive/effects/frei0r_tarnix.xml" \
    "$share/shotcut/qml/filters/tarnix/ui.qml" "$work/query.yml" "$work/clip.mkv" "$work" ||
    fail "the editors' metadata does not match the filter"
for editor in kdenlive shotcut; do
    with_melt_project "$work/$editor.rgba" "$work/$editor.mlt"
    cmp -s "$work/$editor.rgba" "$work/in.rgba" || fail "a melt project with the $editor defaults changed the frames"
done
echo "the Kdenlive and Shotcut metadata match the filter, and their defaults change nothing"

make -s -C "$src" uninstall PREFIX=/usr DESTDIR="$root" >/dev/null
for f in $installed; do [ ! -e "$root/usr/$f" ] || fail "make uninstall left $f"; done
echo "make uninstall removed everything make install put there"
