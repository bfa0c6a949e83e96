#!/usr/bin/env bash
# Measures what the live plots cost the sampling: the tick period of a recorded run of the
# desktop program against lumivo-sim on a pseudo-terminal, with the main window shown (the
# plots redrawing) and unmapped (nothing drawn), alternating every few windows in one run so
# that both see the same machine. The simulator runs at a real-time priority where the system
# allows it, as an instrument would not share the computer's processors.
#   --load       two `sha256sum /dev/zero` keep both processors busy in the second half
#   --no-raise   the program runs without CAP_SYS_NICE: its request for a raised priority is
#                refused (the log says so) and it samples at the normal priority
#
# Needs Xvfb, xdotool and python3. It builds its own installation folder (the guide's
# demonstration project) and prints the tick period of each window and the mean per phase.
#
# usage: scripts/live_plots_tick_period.sh [--load] [--no-raise] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
LOAD=0
NO_RAISE=()
while [[ ${1:-} == --* ]]; do
    case $1 in
        --load) LOAD=1 ;;
        --no-raise) NO_RAISE=(setpriv --inh-caps=-sys_nice --bounding-set=-sys_nice) ;;
        *) echo "usage: scripts/live_plots_tick_period.sh [--load] [--no-raise] [BUILD_DIR]" >&2; exit 2 ;;
    esac
    shift
done
BUILD_DIR=${1:-build/default}
APP=$BUILD_DIR/src/app/lumivo
SIM=$BUILD_DIR/src/sim/lumivo-sim
SHOTS=$BUILD_DIR/src/app/lumivo-guide-shots
for tool in Xvfb xdotool python3; do
    command -v $tool >/dev/null || { echo "live_plots_tick_period.sh: $tool is missing" >&2; exit 3; }
done
[[ -x $APP && -x $SIM && -x $SHOTS ]] || { echo "live_plots_tick_period.sh: build $BUILD_DIR first" >&2; exit 3; }

WORK=$(mktemp -d /tmp/lumivo-ticks-XXXXXX)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT
"$SHOTS" --out "$WORK/shots" --install "$WORK/install" >/dev/null 2>&1

DISPLAY_NUMBER=${DISPLAY_NUMBER:-77}
Xvfb ":$DISPLAY_NUMBER" -screen 0 1600x1000x24 >/dev/null 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISPLAY_NUMBER"
sleep 1

# Every line of the program's standard error, stamped with the monotonic clock on arrival.
cat > "$WORK/stamp.py" <<'PY'
import sys, time
out = open(sys.argv[1], "w", buffering=1)
for line in sys.stdin:
    out.write("%.6f %s" % (time.monotonic(), line))
PY
# The demonstration project's port is COM1.
SIM_PRIORITY=()
chrt -f 20 true 2>/dev/null && SIM_PRIORITY=(chrt -f 20)
"${SIM_PRIORITY[@]}" "$SIM" --install "$WORK/install" --com 1 >/dev/null &
PIDS+=($!)
sleep 1
"${NO_RAISE[@]}" "$APP" --install "$WORK/install" /RUN 2> >(python3 "$WORK/stamp.py" "$WORK/stderr.log") >/dev/null &
PIDS+=($!)
windows() { grep -c "closed" "$WORK/stderr.log" 2>/dev/null || true; }
phase() { echo "$1 $(windows)" >> "$WORK/phases"; }
until xdotool search --name "Lumivo - Activity monitor" >/dev/null 2>&1; do sleep 1; done
W=$(xdotool search --name "Lumivo - Activity monitor" | head -1)
xdotool windowsize "$W" 1400 920
until [[ $(windows) -ge 2 ]]; do sleep 2; done   # the first window holds the start
STEPS=(shown hidden shown hidden)
for i in "${!STEPS[@]}"; do
    if [[ $LOAD == 1 && $i == 2 ]]; then
        sha256sum /dev/zero & PIDS+=($!)
        sha256sum /dev/zero & PIDS+=($!)
        echo "(two sha256sum /dev/zero from here on)"
    fi
    if [[ ${STEPS[$i]} == hidden ]]; then xdotool windowunmap "$W"; else xdotool windowmap "$W"; fi
    phase "${STEPS[$i]}$([[ $LOAD == 1 && $i -ge 2 ]] && echo -loaded)"
    start=$(windows)
    until [[ $(windows) -ge $((start + 3)) ]]; do sleep 2; done
done
phase end

python3 - "$WORK/stderr.log" "$WORK/phases" <<'PY'
import re, sys
closes = {}
for line in open(sys.argv[1]):
    m = re.match(r"([\d.]+) lumivo: window (\d+) closed.*longest tick ([\d.]+) ms", line)
    if m:
        closes[int(m.group(2))] = float(m.group(1))
        longest = m.group(3)
phases = [l.split() for l in open(sys.argv[2])]
result = {}
for (name, first), _ in zip(phases, phases[1:]):
    for k in range(int(first) + 1, int(first) + 4):
        if k in closes and k - 1 in closes:
            result.setdefault(name, []).append((closes[k] - closes[k - 1]) / 500 * 1000)
for name, v in result.items():
    print("%-14s tick %s ms, mean %.3f ms (wire time 68.4 ms)" %
          (name, " ".join("%.3f" % x for x in v), sum(v) / len(v)))
print("longest tick of the run: %s ms" % longest)
PY
grep -m1 "Sampling:" "$WORK/stderr.log" | cut -d' ' -f2-
