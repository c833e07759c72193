#!/bin/sh
# Soak: renders a long small clip through tarnix with the heaviest built-in look (the one that
# switches the most stages on), samples tarnix's resident memory once a second or so and checks
# that it stays flat once the first frames have warmed every cache; then renders the first
# frames again in a second run and checks that they come out the same.
#
#   tools/soak.sh BUILD_DIR [FRAMES [WARM_FRAMES]]     (defaults 20000 and 1000)
#
# Flat means: from frame WARM_FRAMES on, the largest and the smallest sample differ by at most
# SOAK_BOUND_KB (default 8192 kB), and the last sample is at most SOAK_DRIFT_KB (default
# 4096 kB) above the first. A frame of the clip is 320 x 180, 225 kB at 8 bits: a leak of one
# working raster every 50 frames, or of 500 bytes a frame, crosses 8 MB over 19,000 frames,
# while allocator and pipe-buffer noise stays within a few MB.
set -eu

build=${1:?usage: tools/soak.sh BUILD_DIR [FRAMES [WARM_FRAMES]]}
frames=${2:-20000}
warm=${3:-1000}
bound_kb=${SOAK_BOUND_KB:-8192}
drift_kb=${SOAK_DRIFT_KB:-4096}
tarnix=$(cd "$build" && pwd)/tarnix
[ -x "$tarnix" ] || { echo "soak: no tarnix in $build" >&2; exit 2; }
[ "$warm" -lt "$frames" ] || { echo "soak: WARM_FRAMES must be below FRAMES" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnix-soak.XXXXXX")
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The preset with the most stages switched on; the first of them on a tie.
preset=$("$tarnix" presets | awk '
    /^[^ ]/ { name = $1; sub(/:$/, "", name); order[++n] = name; on[name] = 0 }
    /^  do[A-Za-z]* = on/ { on[name]++ }
    END { for (i = 1; i <= n; i++) if (on[order[i]] > best) { best = on[order[i]]; pick = order[i] } print pick }')
[ -n "$preset" ] || { echo "soak: tarnix lists no presets" >&2; exit 1; }

echo "soak: $frames frames of a 320x180 test clip, preset $preset, resident memory checked from frame $warm"
start=$(date +%s)
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=size=320x180:rate=25 -frames:v "$frames" \
    -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p "$work/clip.mp4"

# First run, every frame, into a lossless file. tarnix draws its progress line only on a
# terminal: `script` gives it one, and the samples read the frame count from that line.
script -qfec "exec '$tarnix' render '$work/clip.mp4' '$work/long.mkv' --preset $preset -y" \
    "$work/progress.log" </dev/null >/dev/null 2>&1 &
script_pid=$!
# tarnix replaces the shell that script starts.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    pid=$(pgrep -P "$script_pid" || true)
    [ -n "$pid" ] && break
    sleep 0.2
done
[ -n "$pid" ] || { echo "soak: tarnix did not start" >&2; exit 1; }
: >"$work/samples"
while [ -r "/proc/$pid/status" ]; do
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    frame=$(tail -c 600 "$work/progress.log" 2>/dev/null | tr '\r' '\n' | sed -n 's/^frame \([0-9]*\).*/\1/p' | tail -n 1)
    [ -n "$rss" ] && [ -n "$frame" ] && echo "$(($(date +%s) - start)) $frame $rss" >>"$work/samples"
    sleep 1
done
status=0
wait "$script_pid" || status=$?
pid=
[ "$status" -eq 0 ] || { echo "soak: tarnix render failed ($status)"; tail -c 2000 "$work/progress.log" | tr '\r' '\n' | tail -n 5; exit 1; }
long_end=$(date +%s)

# Second run, the first WARM_FRAMES frames only.
"$tarnix" render "$work/clip.mp4" "$work/short.mkv" --preset "$preset" --frames "0:$((warm - 1))" -y -q
ffmpeg -nostdin -loglevel error -i "$work/long.mkv" -frames:v "$warm" -f framemd5 "$work/long.md5"
ffmpeg -nostdin -loglevel error -i "$work/short.mkv" -f framemd5 "$work/short.md5"
end=$(date +%s)

failed=0
rendered=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/long.mkv")
if [ "$rendered" != "$frames" ]; then
    echo "soak: FAIL: the long run wrote $rendered frames, not $frames"
    failed=1
fi

# Resident memory: overall, and from the first sample at or past the warm frame on.
awk -v warm="$warm" -v bound="$bound_kb" -v drift="$drift_kb" '
    { n++; if (n == 1) { t0 = $1; amin = $3 } if ($3 < amin) amin = $3; if ($3 > amax) amax = $3; t1 = $1 }
    $2 >= warm { m++; if (m == 1) { first = $3; firstFrame = $2; lo = $3; hi = $3 }
                 if ($3 < lo) lo = $3; if ($3 > hi) hi = $3; last = $3; lastFrame = $2 }
    END {
        gap = 0; if (n > 1) gap = (t1 - t0) / (n - 1)
        printf "soak: resident memory of tarnix, %d samples, one every %.1f s on average: %.1f to %.1f MB over the whole run\n", n, gap, amin / 1024, amax / 1024
        if (m < 2) { print "soak: FAIL: fewer than two samples after the warm frame"; exit 1 }
        printf "soak: from frame %d (%d samples, up to frame %d): min %.1f MB, max %.1f MB, max - min %.2f MB (bound %.1f MB); first %.1f MB, last %.1f MB, last - first %+.2f MB (bound %.1f MB)\n", firstFrame, m, lastFrame, lo / 1024, hi / 1024, (hi - lo) / 1024, bound / 1024, first / 1024, last / 1024, (last - first) / 1024, drift / 1024
        if (hi - lo > bound) { print "soak: FAIL: resident memory moved more than the bound"; exit 1 }
        if (last - first > drift) { print "soak: FAIL: resident memory grew more than the bound"; exit 1 }
    }' "$work/samples" || failed=1

long_hashes=$(grep -vc '^#' "$work/long.md5" || true)
if [ "$long_hashes" -ne "$warm" ] || ! cmp -s "$work/long.md5" "$work/short.md5"; then
    echo "soak: FAIL: the first $warm frames of the long run differ from a second run of $warm frames"
    diff "$work/long.md5" "$work/short.md5" | head -n 6
    failed=1
else
    echo "soak: the first $warm frames of both runs are identical (framemd5 of the lossless outputs)"
fi
echo "soak: long run $((long_end - start)) s (clip included), second run and hashes $((end - long_end)) s"
if [ -n "${SOAK_KEEP_SAMPLES:-}" ]; then cp "$work/samples" "$SOAK_KEEP_SAMPLES"; fi
[ "$failed" -eq 0 ] && echo "soak: passed"
exit "$failed"
