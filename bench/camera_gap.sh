#!/usr/bin/env bash
# A series whose camera goes away: `record` takes 512x512 Mono8 pictures every 50 ms for GAP + 7 s
# from the GenICam emulator, which is stopped (SIGSTOP) or killed for GAP seconds from second 3
# and then continued or started again. Prints for each run the gap the log records, the ticks
# missed in all, the ticks missed a second of the gap, and how long after the camera answered
# again its pictures came back. Runs only inside the private network that scripts/netns-run makes:
#   scripts/netns-run bench/camera_gap.sh BUILD_DIR [runs] [gap-seconds]
set -uo pipefail
build="${1:?usage: scripts/netns-run bench/camera_gap.sh BUILD_DIR [runs] [gap-seconds]}"
runs="${2:-3}"
gap="${3:-3}"
app="$build/bin/pictures-in-a-row"
[ -x "$app" ] || { echo "no program at $app"; exit 1; }
[ "${PIR_NETNS:-}" = 1 ] || { echo "run through scripts/netns-run: GenICam discovery broadcasts"; exit 77; }
emulator="${PIR_EMULATOR_PID:?no emulator}"

work="$(mktemp -d)"
[ -d "$work" ] || exit 1
own=""
cleanup() {
    [ -n "$own" ] && kill "$own" 2>/dev/null
    rm -rf -- "$work"
}
trap cleanup EXIT
printf 'source = genicam\ncamera = 127.0.0.1\nwidth = 512\nheight = 512\npixel-format = Mono8\ntrigger = free-running\n' \
    > "$work/camera.vin"

for mode in stop kill; do
    for run in $(seq "$runs"); do
        QT_QPA_PLATFORM=offscreen "$app" record --driver "$work/camera.vin" --dir "$work/run-$mode-$run" \
            --interval 50 --duration "$((gap + 7))" --add number --quiet > "$work/log-path" 2> /dev/null &
        record=$!
        sleep 3
        if [ "$mode" = stop ]; then
            kill -STOP "$emulator"
            sleep "$gap"
            kill -CONT "$emulator"
        else
            kill -KILL "$emulator"
            wait "$emulator" 2> /dev/null
            sleep "$gap"
            arv-fake-gv-camera-0.8 -i 127.0.0.1 > /dev/null 2>&1 &
            own=$!
            emulator=$own
        fi
        wait "$record"
        status=$?
        log="$(cat "$work/log-path")"
        awk -v mode="$mode" -v gap="$gap" -v status="$status" '
            /^# camera lost at/ { lost = $5 }
            /^# camera back at/ { back = $5 }
            /^# end:/ { missed = $(NF - 2) }
            END { printf "%s: exit %d, away %d-%d ms, %d ticks missed, %.1f a second of the %g s gap, back %d ms after the camera\n",
                         mode, status, lost, back, missed, missed / gap, gap, back - lost - gap * 1000 }' "$log"
    done
done
