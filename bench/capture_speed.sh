#!/bin/bash
# Speed of the capture program on this machine: the whole show at 1280x720 and 60 fps.
#
# Measures, each with its wall time, CPU time and the load average before it (other people
# share the machine, so a figure means little without the load it was taken under):
#   draw alone      the frames drawn and read back (two pixel buffers, and a plain readback),
#                   nothing encoded;
#   encode alone    ffmpeg/libx264 with the capture's settings on frames drawn beforehand into
#                   a raw file (a sample: bars 20-21 of movement one and 40-41 of movement two);
#   overlapped      the real capture: drawing, readback and encoding at once, into an MP4;
# and the ratio of the overlapped capture's time to the show's length (129.7 s at 60 fps).
#
# Usage: bench/capture_speed.sh [BUILD_DIR] [--bars A:B] [--preset P]
#   BUILD_DIR defaults to ./build; --bars limits the draw-alone and overlapped runs (default
#   the whole show); --preset is the x264 preset (default: the capture's own).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
bars=""
preset=""
while [ $# -gt 0 ]; do
    case "$1" in
    --bars) bars="$2"; shift 2 ;;
    --preset) preset="$2"; shift 2 ;;
    -h | --help) sed -n '2,17s/^# \{0,1\}//p' "$0"; exit 0 ;;
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
    [ "$n" = - ] && n=$(sed -n 's/^vellamor_capture: \([0-9]*\) frames.*/\1/p' "$work/err")
    read -r wall user sys < "$work/time"
    awk -v name="$name" -v n="$n" -v wall="$wall" -v cpu="$(echo "$user + $sys" | bc)" \
        -v load="$load" 'BEGIN {
            printf "%-28s %6d frames %7.1f s wall %7.1f s cpu %6.1f fps %5.1f ms cpu/frame  load %s\n",
                name, n, wall, cpu, n / wall, 1000 * cpu / n, load }'
    echo "$wall $n" > "$work/last"
}

echo "capture speed, $(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ); show at 1280x720, 60 fps"
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

step "overlapped (the capture)" - "$capture" video "${range[@]}" "${enc[@]}" --no-audio \
    -o "$work/show.mp4"
read -r wall frames < "$work/last"
awk -v wall="$wall" -v n="$frames" 'BEGIN {
    show = n / 60.0
    printf "capture time / show length: %.1f s / %.1f s = %.2f\n", wall, show, wall / show }'
ls -l "$work/show.mp4" | awk '{printf "video: %.1f MB\n", $5 / 1e6}'
