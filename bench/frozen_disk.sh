#!/usr/bin/env bash
# A series into a disk that stalls: `record` saves 2048x2048 Mono8 .mio pictures every 50 ms
# into an ext4 file system on a loop device, which is frozen (fsfreeze) for one second in the
# middle of the series. Prints the ticks missed, the lateness of the pictures, and checks that
# every picture opens whole. Needs root; runs in a private mount namespace and undoes its mount.
#   bench/frozen_disk.sh BUILD_DIR [pictures] [interval-ms] [freeze-ms]
set -euo pipefail
build="${1:?usage: frozen_disk.sh BUILD_DIR [pictures] [interval-ms] [freeze-ms]}"
pictures="${2:-200}"
interval="${3:-50}"
freeze_ms="${4:-1000}"
app="$build/bin/pictures-in-a-row"
[ -x "$app" ] || { echo "no program at $app"; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root (loop device, mount, fsfreeze)"; exit 77; }

work="$(mktemp -d)"
[ -d "$work" ] || exit 1
cleanup() { rm -rf -- "$work"; }
trap cleanup EXIT
truncate -s 2G "$work/disk.img"
mkfs.ext4 -q -F "$work/disk.img"
mkdir "$work/disk"
printf 'source = test-pattern\nwidth = 2048\nheight = 2048\npixel-format = Mono8\n' > "$work/camera.vin"

unshare -m --propagation private bash -s "$app" "$work" "$pictures" "$interval" "$freeze_ms" <<'INNER'
set -euo pipefail
app="$1"; work="$2"; pictures="$3"; interval="$4"; freeze_ms="$5"
mount -o loop "$work/disk.img" "$work/disk"
# A frozen file system holds every writer in an uninterruptible wait: it is always thawed.
trap 'fsfreeze -u "$work/disk" 2>/dev/null || true; umount "$work/disk"' EXIT
QT_QPA_PLATFORM=offscreen "$app" record --driver "$work/camera.vin" --dir "$work/disk/run" --type .mio \
    --interval "$interval" --add number --count "$pictures" --quiet > "$work/log-path" &
record=$!
sleep "$(awk -v p="$pictures" -v i="$interval" 'BEGIN { print p * i / 2000 }')"
fsfreeze -f "$work/disk"
sleep "$(awk -v f="$freeze_ms" 'BEGIN { print f / 1000 }')"
fsfreeze -u "$work/disk"
wait "$record"
log="$(cat "$work/log-path")"
grep -E '^# (schedule|end)' "$log"
awk -F, '/^[0-9]+,/ && $10 == "ok" { print $5 }' "$log" | sort -n |
    awk '{ v[NR] = $1 } END { printf "lateness: median %.3f ms, p99 %.3f ms, max %.3f ms over %d pictures\n",
                              v[int(NR / 2) + 1], v[int(NR * 0.99)], v[NR], NR }'
# Where ticks were missed: the gaps in the schedule of the pictures saved.
awk -F, -v i="$interval" '/^[0-9]+,/ && $10 == "ok" { if (last != "" && $3 - last > i * 1.5) printf "gap after %.0f ms: %.0f ms\n", last, $3 - last; last = $3 }' "$log"
whole=0
broken=0
for f in "$work"/disk/run/*.mio; do
    if "$app" --check --driver "$f" > /dev/null 2>&1; then whole=$((whole + 1)); else broken=$((broken + 1)); fi
done
echo "pictures: $whole whole, $broken damaged"
INNER
