#!/bin/bash
# Speed of the capture program on this machine: the whole show at 60 fps, at the build's
# 1280x720 and at the sizes a video is published at.
#
# Measures, each with its wall time, CPU time and the load average before it (other people
# share the machine, so a figure means little without the load it was taken under):
#   draw alone      the frames drawn and read back at 1280x720 (two pixel buffers, and a plain
#                   readback), nothing encoded;
#   encode alone    ffmpeg/libx264 with the capture's settings on frames drawn beforehand into
#                   a raw file (a sample: bars 20-21 of movement one and 40-41 of movement two);
#   overlapped      the real capture: drawing, readback and encoding at once, into an MP4, at
#                   1280x720, 1920x1080, 1920x1080 supersampled 2x2 and 3840x2160;
#   publishing      3840x2160 supersampled 2x2, on a sample: bar 20 of movement one and bar 40
#                   of movement two (the whole show takes hours on two cores; the ratio says
#                   how many);
# and for each overlapped capture the ratio of its time to the show's length (129.7 s).
# With --parts, instead: what a part of the video in parts costs at 3840x2160 supersampled 2x2,
# its frames against its fixed cost (the renderer's start, the unseen frame before its first,
# a key frame), from two parts of 58 frames and one of a single frame.
#
# Usage: bench/capture_speed.sh [BUILD_DIR] [--bars A:B] [--preset P] [--parts]
#   BUILD_DIR defaults to ./build; --bars limits the draw-alone and overlapped runs (default
#   the whole show); --preset is the x264 preset (default: the capture's own).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
bars=""
preset=""
parts=0
while [ $# -gt 0 ]; do
    case "$1" in
    --bars) bars="$2"; shift 2 ;;
    --preset) preset="$2"; shift 2 ;;
    --parts) parts=1; shift ;;
    -h | --help) sed -n '2,26s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) build="$1"; shift ;;
    esac
done
capture="$build/vellamor_capture"
[ -x "$capture" ] || { echo "no $capture: build it first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/capture-speed.XXXXXX")
trap 'rm -rf "$work"' EXIT

range=(); [ -n "$bars" ] && range=(--bars "$bars")
enc=(); [ -n "$preset" ] && enc=(--preset "$preset")

# One timed step: prints name, frames, wall and CPU time, fps, CPU per frame and the load.
# The frame count is the capture's own (its summary line) or, for ffmpeg, given.
step() { # name frames|- command...
    local name=$1 n=$2
    shift 2
    local load
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2> "$work/err" || {
        cat "$work/err" >&2
        exit 1
    }
    # "vellamor_capture: N frames ..." or "vellamor_capture: part K of N of ...: N frames ..."
    [ "$n" = - ] && n=$(sed -n 's/^vellamor_capture: \(part .*: \)\{0,1\}\([0-9]*\) frames.*/\2/p' \
        "$work/err")
    read -r wall user sys < "$work/time"
    awk -v name="$name" -v n="$n" -v wall="$wall" -v cpu="$user" -v sys="$sys" \
        -v load="$load" 'BEGIN {
            cpu += sys
            printf "%-34s %6d frames %7.1f s wall %7.1f s cpu %6.1f fps %5.1f ms cpu/frame  load %s\n",
                name, n, wall, cpu, n / wall, 1000 * cpu / n, load }'
    echo "$wall $n" > "$work/last"
}

echo "capture speed, $(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ); vellamor (1280x720), 60 fps"
if [ "$parts" = 1 ]; then
    publishing=(--size 3840x2160 --supersample 2 "${enc[@]}" --force -o "$work/part.mp4")
    step "part 1/8 of bars 31:34 (4K ss 2x2)" - \
        "$capture" video --bars 31:34 --part 1/8 "${publishing[@]}"
    step "part 5/8 of bars 31:34 (4K ss 2x2)" - \
        "$capture" video --bars 31:34 --part 5/8 "${publishing[@]}"
    step "part 1/232 of bar 31 (fixed cost)" - \
        "$capture" video --bars 31:32 --part 1/232 "${publishing[@]}"
    exit 0
fi
step "draw alone (pixel buffers)" - "$capture" video "${range[@]}" --sink null
step "draw alone (plain readback)" - "$capture" video "${range[@]}" --sink null --readback sync

# Encoding alone, on frames drawn beforehand, with the capture's own encoder settings.
for b in 20:21 40:41; do
    "$capture" -q video --bars "$b" --sink raw -o "$work/part.rgba" > /dev/null 2>&1
    cat "$work/part.rgba" >> "$work/sample.rgba"
    rm "$work/part.rgba"
done
sample=$(($(stat -c %s "$work/sample.rgba") / (1280 * 720 * 4)))
cat "$work/sample.rgba" > /dev/null # in the page cache before the clock starts
step "encode alone (sample)" "$sample" ffmpeg -hide_banner -nostdin -loglevel error -y \
    -f rawvideo -pix_fmt rgba -s 1280x720 -framerate 60 -i "$work/sample.rgba" \
    -vf vflip,scale=out_color_matrix=bt709:out_range=tv -c:v libx264 \
    -preset "${preset:-veryfast}" -crf 18 -pix_fmt yuv420p -f mp4 "$work/sample.mp4"
rm -f "$work/sample.rgba"

# The real capture at each size; each line of the table: size, wall time, frames, MB.
overlapped() { # label size supersample bars...
    local label=$1 size=$2 n=$3
    shift 3
    step "$label" - "$capture" video --size "$size" --supersample "$n" "$@" "${enc[@]}" \
        --no-audio -o "$work/show.mp4"
    read -r wall frames < "$work/last"
    printf '%s|%s|%s|%s\n' "$label" "$wall" "$frames" \
        "$(stat -c %s "$work/show.mp4" | awk '{printf "%.1f", $1 / 1e6}')" >> "$work/table"
    rm -f "$work/show.mp4"
}
: > "$work/table"
overlapped "overlapped 1280x720" 1280x720 1 "${range[@]}"
overlapped "overlapped 1920x1080" 1920x1080 1 "${range[@]}"
overlapped "overlapped 1920x1080 ss 2x2" 1920x1080 2 "${range[@]}"
overlapped "overlapped 3840x2160" 3840x2160 1 "${range[@]}"
for b in 20 40; do
    overlapped "publishing 3840x2160 ss 2x2 bar $b" 3840x2160 2 --bars "$b"
done

echo
echo "capture time / length of the video captured (60 fps):"
awk -F'|' '{
    if ($1 ~ /^publishing/) { pw += $2; pn += $3; next }
    printf "  %-30s %7.1f s / %6.1f s = %5.2f   %7.1f MB\n", $1, $2, $3 / 60.0, $2 / ($3 / 60.0), $4
} END {
    if (pn) printf "  %-30s %7.1f s / %6.1f s = %5.2f   (sample: bars 20 and 40)\n", \
        "publishing 3840x2160 ss 2x2", pw, pn / 60.0, pw / (pn / 60.0)
}' "$work/table"
