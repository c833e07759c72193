#!/usr/bin/env bash
# What the look costs next to the old-film chains people use today, on one render thread each:
# MLT's oldfilm + dust + lines + grain + vignette, ffmpeg's noise + vignette + boxblur + curves and
# `tarnix render --preset worn-print` at 8 and 16 bit, each with and without its effect, so each
# tool's own decoding and writing cancels out. Then tarnix with every stage off against ffmpeg
# alone on the same transcode, to H.264 and to raw video.
#
# usage: bench/peers.sh BUILD            (BUILD holds tarnix and its module, e.g. build/native)
#   PEERS_QUICK=1   1080p only, one repetition, no H.264 (a minute or so)
#   PEERS_REPS=N    repetitions (default 3; the best of them counts)
#   PEERS_UHD=0     leave out the UHD clip
#
# Times: CPU is user + system time of the process and every child it waits for (tarnix's two
# ffmpeg processes included); wall is elapsed time. Each figure is the best of the repetitions;
# the tools take turns within each repetition, in reversed order every other one, so drift while
# others use the machine hits them all alike.
set -euo pipefail

build=${1:?usage: bench/peers.sh BUILD}
tarnix=$build/tarnix
[ -x "$tarnix" ] || { echo "peers.sh: no $tarnix (build it first)" >&2; exit 5; }
for tool in ffmpeg melt /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "peers.sh: $tool is missing" >&2; exit 5; }
done

reps=${PEERS_REPS:-3}
uhd=${PEERS_UHD:-1}
h264=1
if [ "${PEERS_QUICK:-0}" = 1 ]; then reps=${PEERS_REPS:-1}; uhd=0; h264=0; fi

work=$build/peers
mkdir -p "$work"
scratch=$(mktemp -d "$work/run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The peers' effects, each filter checked to exist, so a missing one fails instead of timing less.
mlt_filters=(oldfilm dust lines grain vignette)
known=$(melt -query filters 2>/dev/null)
for f in "${mlt_filters[@]}"; do
    grep -qx "  - $f" <<<"$known" || { echo "peers.sh: melt has no filter $f" >&2; exit 5; }
done
ffmpeg_chain="noise=alls=20:allf=t+u,vignette,boxblur=luma_radius=2:luma_power=1,curves=preset=vintage"
known=$(ffmpeg -hide_banner -filters 2>/dev/null)
for f in noise vignette boxblur curves; do
    grep -qE "^ [A-Z.]{3} $f " <<<"$known" || { echo "peers.sh: ffmpeg has no filter $f" >&2; exit 5; }
done

# Clips stored as raw 4:2:0, as decoded camera footage arrives, so decoding costs next to nothing
# and the same for every tool; made once.
clip() {  # SIZE FRAMES -> path
    local path=$work/testsrc2-$1-$2.nut
    if [ ! -s "$path" ]; then
        ffmpeg -hide_banner -v error -nostdin -f lavfi -i "testsrc2=size=$1:rate=25" -frames:v "$2" \
            -pix_fmt yuv420p -c:v rawvideo -f nut -y "$path.part"
        mv "$path.part" "$path"
    fi
    echo "$path"
}

# tarnix writes raw video where its outputs allow it: the first of these it accepts for one frame.
raw_target() {  # DEPTH CLIP -> "extension [options]" or nothing
    local candidate ext options
    for candidate in "nut" "mov --codec rawvideo"; do
        read -r ext options <<<"$candidate"
        # shellcheck disable=SC2086
        if "$tarnix" render "$2" "$scratch/probe.$ext" $options --depth "$1" --frames 0:0 -q -y >/dev/null 2>&1; then
            echo "$candidate"
            return
        fi
    done
}
declare -A raw unreadable
raw_probe=$(clip 1920x1080 100)
for depth in 8 16; do
    raw[$depth]=$(raw_target "$depth" "$raw_probe")
    # ffmpeg writes 16-bit raw frames into .mov though no reader (itself included) opens the file:
    # the bytes cost the same to write, so it is timed, and said.
    if [ -n "${raw[$depth]}" ] && ! ffmpeg -v quiet -nostdin -i "$scratch/probe.${raw[$depth]%% *}" -f null - 2>/dev/null; then
        unreadable[$depth]=1
    fi
    rm -f "$scratch"/probe.*
done

# The pixel format tarnix hands its encoder: what ffmpeg alone writes for the same raw file.
raw_pix_fmt() { [ "$1" = 16 ] && echo rgba64le || echo bgra; }

declare -A cpu wall   # best per job
declare -a jobs
declare -A command

job() {  # NAME COMMAND...
    jobs+=("$1")
    command[$1]=$(printf '%q ' "${@:2}")
}

run_job() {
    local name=$1 t=$scratch/time e u s
    if ! eval "/usr/bin/time -f '%e %U %S' -o $t ${command[$name]}" >"$scratch/log" 2>&1; then
        echo "peers.sh: $name failed:" >&2
        tail -5 "$scratch/log" >&2
        exit 1
    fi
    rm -f "$scratch"/out.*
    read -r e u s <"$t"
    local c
    c=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
    if [ -z "${cpu[$name]:-}" ] || awk -v a="$c" -v b="${cpu[$name]}" 'BEGIN { exit !(a < b) }'; then cpu[$name]=$c; fi
    if [ -z "${wall[$name]:-}" ] || awk -v a="$e" -v b="${wall[$name]}" 'BEGIN { exit !(a < b) }'; then wall[$name]=$e; fi
}

run_all() {
    local rep i
    for ((rep = 1; rep <= reps; ++rep)); do
        if ((rep % 2)); then
            for ((i = 0; i < ${#jobs[@]}; ++i)); do run_job "${jobs[$i]}"; done
        else
            for ((i = ${#jobs[@]} - 1; i >= 0; --i)); do run_job "${jobs[$i]}"; done
        fi
    done
}

# ms per frame of a job's best time
per_frame() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.1f", 1000 * t / n }'; }

tarnix_raw() {  # NAME CLIP DEPTH [options...]
    local name=$1 input=$2 depth=$3 ext options
    read -r ext options <<<"${raw[$3]}"
    shift 3
    # shellcheck disable=SC2086
    job "$name" "$tarnix" render "$input" "$scratch/out.$ext" $options --depth "$depth" -q -y "$@"
}

effects() {  # SIZE FRAMES
    local size=$1 frames=$2 input
    input=$(clip "$size" "$frames")
    jobs=()
    local melt_effect=()
    for f in "${mlt_filters[@]}"; do melt_effect+=(-filter "$f"); done
    # real_time=-1: one rendering thread and no frame dropped; terminate_on_pause ends at the last frame.
    job melt_none melt -quiet "$input" -consumer null real_time=-1 terminate_on_pause=1
    job melt_effect melt -quiet "$input" "${melt_effect[@]}" -consumer null real_time=-1 terminate_on_pause=1
    job ffmpeg_none ffmpeg -hide_banner -v error -nostdin -threads 1 -filter_threads 1 -i "$input" -threads 1 -f null -
    job ffmpeg_effect ffmpeg -hide_banner -v error -nostdin -threads 1 -filter_threads 1 -i "$input" -threads 1 \
        -vf "$ffmpeg_chain" -f null -
    for depth in 8 16; do
        [ -n "${raw[$depth]}" ] || continue
        tarnix_raw "tarnix${depth}_none" "$input" "$depth"
        tarnix_raw "tarnix${depth}_effect" "$input" "$depth" --preset worn-print
    done
    cpu=() wall=()
    run_all

    echo
    echo "== $size, $frames frames, best of $reps: added ms per frame (effect - none), fps of the effect alone"
    for clock in cpu wall; do
        echo "-- $clock time"
        printf '%-32s %9s %9s %9s %8s %12s %12s\n' tool "none ms/f" "eff ms/f" "added" fps "MLT/tarnix" "ffmpeg/tarnix"
        local -A added=()
        local tool
        for tool in melt ffmpeg tarnix8 tarnix16; do
            [ -n "${cpu[${tool}_none]:-}" ] || continue
            local -n best=$clock
            local none effect
            none=$(per_frame "${best[${tool}_none]}" "$frames")
            effect=$(per_frame "${best[${tool}_effect]}" "$frames")
            added[$tool]=$(awk -v a="$effect" -v b="$none" 'BEGIN { printf "%.1f", a - b }')
            local label=$tool versus_mlt="" versus_ffmpeg=""
            case $tool in
            melt) label="MLT ${mlt_filters[*]}" ;;
            ffmpeg) label="ffmpeg noise vignette boxblur curves" ;;
            tarnix*) label="tarnix worn-print ${tool#tarnix}-bit"
                versus_mlt=$(awk -v p="${added[melt]}" -v t="${added[$tool]}" 'BEGIN { if (t > 0) printf "%.2f", p / t }')
                versus_ffmpeg=$(awk -v p="${added[ffmpeg]}" -v t="${added[$tool]}" 'BEGIN { if (t > 0) printf "%.2f", p / t }') ;;
            esac
            printf '%-32s %9s %9s %9s %8s %12s %12s\n' "${label:0:32}" "$none" "$effect" "${added[$tool]}" \
                "$(awk -v a="${added[$tool]}" 'BEGIN { if (a > 0) printf "%.1f", 1000 / a }')" "$versus_mlt" "$versus_ffmpeg"
            unset -n best
        done
    done
    for depth in 8 16; do
        [ -n "${raw[$depth]}" ] || echo "(tarnix at $depth bit left out: none of its outputs takes raw video at that depth)"
    done
    echo "(ratio = peer's added ms / tarnix's added ms: above 1.0, tarnix adds less per frame;"
    echo " wall times swing with whatever else the machine runs, CPU times much less)"
}

plumbing() {  # SIZE FRAMES: tarnix with every stage off against ffmpeg alone, same input, same output
    local size=$1 frames=$2 input
    input=$(clip "$size" "$frames")
    jobs=()
    # tarnix's own scaler flags, so that both do the same conversion work. They must follow the
    # input: before it ffmpeg takes them for the input and the conversion runs with its defaults.
    local sws=(-sws_flags bicubic+accurate_rnd+full_chroma_int)
    for depth in 8 16; do
        local target=${raw[$depth]}
        [ -n "$target" ] || continue
        tarnix_raw "tarnix${depth}_raw" "$input" "$depth"
        job "ffmpeg${depth}_raw" ffmpeg -hide_banner -v error -nostdin -i "$input" "${sws[@]}" -c:v rawvideo \
            -pix_fmt "$(raw_pix_fmt "$depth")" -y "$scratch/out.${target%% *}"
    done
    if ((h264)); then
        for depth in 8 16; do job "tarnix${depth}_h264" "$tarnix" render "$input" "$scratch/out.mp4" --depth "$depth" --crf 18 -q -y; done
        # What tarnix's .mp4 output asks of libx264.
        job ffmpeg_h264 ffmpeg -hide_banner -v error -nostdin -i "$input" "${sws[@]}" -c:v libx264 -preset medium -crf 18 \
            -pix_fmt yuv420p -movflags +faststart -y "$scratch/out.mp4"
    fi
    cpu=() wall=()
    run_all

    echo
    echo "== tarnix with every stage off against ffmpeg alone, $size, $frames frames, best of $reps (ms per frame)"
    printf '%-28s %10s %10s %10s %10s %9s %9s %7s\n' output "tarnix cpu" "ffmpeg cpu" "tarnix wall" "ffmpeg wall" "cpu x" "wall x" target
    local depth kind
    for kind in h264 raw; do
        for depth in 8 16; do
            local t=tarnix${depth}_$kind f=ffmpeg${depth}_$kind goal=1.5 label
            [ "$kind" = h264 ] && f=ffmpeg_h264 goal=1.2
            [ -n "${cpu[$t]:-}" ] || continue
            label="$depth-bit to $([ "$kind" = h264 ] && echo "H.264 (medium, crf 18)" || echo "raw ${raw[$depth]%% *}")"
            printf '%-28s %10s %10s %10s %10s %9s %9s %7s\n' "$label" \
                "$(per_frame "${cpu[$t]}" "$frames")" "$(per_frame "${cpu[$f]}" "$frames")" \
                "$(per_frame "${wall[$t]}" "$frames")" "$(per_frame "${wall[$f]}" "$frames")" \
                "$(awk -v a="${cpu[$t]}" -v b="${cpu[$f]}" 'BEGIN { printf "%.2f", a / b }')" \
                "$(awk -v a="${wall[$t]}" -v b="${wall[$f]}" 'BEGIN { printf "%.2f", a / b }')" "$goal"
        done
    done
    echo "(x = tarnix time / ffmpeg time; the target is the most it may be)"
    for depth in 8 16; do
        [ -z "${unreadable[$depth]:-}" ] || echo "(raw ${raw[$depth]%% *} at $depth bit: the frames' bytes are written, but no reader opens the file)"
    done
}

echo "peers.sh: $tarnix, $(ffmpeg -version | head -1 | cut -d' ' -f1-3), $(melt --version 2>&1 | head -1)"
echo "load before: $(uptime)"
effects 1920x1080 100
((uhd)) && effects 3840x2160 30
plumbing 1920x1080 100
echo
echo "load after: $(uptime)"
