#!/usr/bin/env bash
# The main job: installs what is missing, builds the default preset, then shows the device
# link at work against the simulated instrument:
#   1. lumivo-sim serves a simulated instrument on a pseudo-terminal linked as DIR/ports/COM1;
#   2. lumivo-cli serial reads its serial number and temperature-sensor calibration;
#   3. lumivo-cli sample reads one full sample of the 384 channels;
#   4. the simulator is stopped with SIGTERM and must remove its link;
#   5. a short experiment is recorded: a new project ("Demo experiment", 2-minute lapse), then
#      lumivo-cli acquire --simulate (the simulated instrument served on a pseudo-terminal
#      inside lumivo-cli, paced at 115200 baud); the acquisition folder and the quick report
#      are checked and kept in BUILD_DIR/demo-recording;
#   6. the desktop program: the launcher, then "/RUN", which records the same project until
#      its first window is on disk (screenshots in BUILD_DIR);
#   7. the user guide's pictures of the launcher, the main window, the setup window, the
#      report window and the guide itself (BUILD_DIR/guide-images).
#
# usage: scripts/main.sh [--install DIR]
#   Without --install a temporary installation folder is used and removed afterwards.
#   SKIP_BUILD=1 skips steps deps+build; BUILD_DIR chooses the build folder (build/default).
set -euo pipefail
cd "$(dirname "$0")/.."

INSTALL_DIR=""
while (($#)); do
    case "$1" in
        --install) INSTALL_DIR=${2:?--install needs a folder}; shift 2 ;;
        --install=*) INSTALL_DIR=${1#--install=}; shift ;;
        *) echo "usage: scripts/main.sh [--install DIR]" >&2; exit 2 ;;
    esac
done

BUILD_DIR=${BUILD_DIR:-build/default}
JOBS=${JOBS:-$(nproc)}

if [[ ${SKIP_BUILD:-0} != 1 ]]; then
    echo "== dependencies"
    bash scripts/deps.sh
    echo "== build (default preset)"
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$JOBS"
fi

SIM="$BUILD_DIR/src/sim/lumivo-sim"
CLI="$BUILD_DIR/src/cli/lumivo-cli"
for b in "$SIM" "$CLI"; do
    [[ -x $b ]] || { echo "missing program: $b (build first)" >&2; exit 1; }
done

TEMP_INSTALL=""
if [[ -z $INSTALL_DIR ]]; then
    TEMP_INSTALL=$(mktemp -d /tmp/lumivo-demo-XXXXXX)
    INSTALL_DIR=$TEMP_INSTALL
fi
mkdir -p "$INSTALL_DIR"
LINK="$INSTALL_DIR/ports/COM1"
SIM_LOG=$(mktemp /tmp/lumivo-sim-log-XXXXXX)
SIM_PID=""

cleanup() {
    if [[ -n $SIM_PID ]] && kill -0 "$SIM_PID" 2>/dev/null; then
        kill -TERM "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -f "$SIM_LOG"
    [[ -n $TEMP_INSTALL ]] && rm -rf "$TEMP_INSTALL"
    return 0
}
trap cleanup EXIT

echo "== demo: the device link against the simulated instrument"
echo "installation folder: $INSTALL_DIR"
echo "-- starting: $SIM --install $INSTALL_DIR --com 1"
"$SIM" --install "$INSTALL_DIR" --com 1 >"$SIM_LOG" 2>&1 &
SIM_PID=$!

for _ in $(seq 100); do
    [[ -L $LINK || -e $LINK ]] && break
    if ! kill -0 "$SIM_PID" 2>/dev/null; then
        echo "lumivo-sim ended before creating $LINK:" >&2
        cat "$SIM_LOG" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ ! -L $LINK && ! -e $LINK ]]; then
    echo "lumivo-sim did not create $LINK within 10 s" >&2
    cat "$SIM_LOG" >&2
    exit 1
fi
cat "$SIM_LOG"
echo "COM1 is $LINK -> $(readlink "$LINK")"

echo "-- lumivo-cli --install $INSTALL_DIR serial --com 1"
"$CLI" --install "$INSTALL_DIR" serial --com 1

echo "-- lumivo-cli --install $INSTALL_DIR sample --com 1   (channels 0..383)"
SAMPLE=$("$CLI" --install "$INSTALL_DIR" sample --com 1)
echo "$SAMPLE"
COUNT=$(wc -w <<<"$SAMPLE")
echo "($COUNT values)"
[[ $COUNT -eq 384 ]] || { echo "expected 384 values" >&2; exit 1; }

echo "-- stopping lumivo-sim (SIGTERM)"
kill -TERM "$SIM_PID"
STATUS=0
wait "$SIM_PID" || STATUS=$?
SIM_PID=""
if [[ -L $LINK || -e $LINK ]]; then
    echo "lumivo-sim left its link $LINK behind" >&2
    exit 1
fi
echo "lumivo-sim stopped (status $STATUS) and removed $LINK"
[[ $STATUS -eq 0 ]] || exit 1

# A short recorded experiment on the simulated instrument: a project of its own (project 0
# cannot be recorded), then lumivo-cli acquire with the simulator inside lumivo-cli. The start
# calibrates and zeroes the beams (about a minute), then windows of 500 readings (about 35 s
# each) are recorded until the 2-minute lapse ends on a window boundary.
echo "== recording: a short experiment on the simulated instrument"
echo "-- lumivo-cli --install $INSTALL_DIR project new \"Demo experiment\" --lapse 2"
CREATED=$("$CLI" --install "$INSTALL_DIR" project new "Demo experiment" --lapse 2)
echo "$CREATED"
PROJECT=$(sed -n 's/^Created project \([0-9][0-9]*\)_.*/\1/p' <<<"$CREATED")
[[ -n $PROJECT ]] || { echo "no project number in: $CREATED" >&2; exit 1; }
ACQ_LOG=$(mktemp /tmp/lumivo-acquire-XXXXXX)
echo "-- lumivo-cli --install $INSTALL_DIR acquire --simulate --project $PROJECT --name \"Demo run\" --lapse 2"
"$CLI" --install "$INSTALL_DIR" acquire --simulate --project "$PROJECT" --name "Demo run" \
    --description "recorded by scripts/main.sh" --lapse 2 | tee "$ACQ_LOG"
ACQ_DIR=$(sed -n 's/^acquisition folder: //p' "$ACQ_LOG")
QUICK_REPORT=$(sed -n 's/^quick report: //p' "$ACQ_LOG")
rm -f "$ACQ_LOG"
[[ -d $ACQ_DIR ]] || { echo "no acquisition folder" >&2; exit 1; }
[[ -f $QUICK_REPORT ]] || { echo "no quick report" >&2; exit 1; }
COUNTS_BYTES=$(stat -c %s "$ACQ_DIR/counts.bin")
WINDOWS=$((COUNTS_BYTES / 774))
if ((WINDOWS < 3 || COUNTS_BYTES % 774 != 0)); then
    echo "counts.bin holds $COUNTS_BYTES bytes: expected 3 or more whole 774-byte records" >&2
    exit 1
fi
echo "-- the recording: $WINDOWS windows"
ls -l "$ACQ_DIR"
echo "-- lumivo-cli dump counts.bin (first lines)"
"$CLI" --install "$INSTALL_DIR" dump "$ACQ_DIR/counts.bin" | head -n 4 | cut -c 1-120
echo "-- quick report $QUICK_REPORT (first lines)"
head -n 12 "$QUICK_REPORT"
KEEP="$BUILD_DIR/demo-recording"
rm -rf "$KEEP"
mkdir -p "$KEEP"
cp -r "$ACQ_DIR" "$KEEP/"
cp "$QUICK_REPORT" "$KEEP/"
echo "acquisition folder: $ACQ_DIR"
echo "kept (with the quick report) in: $KEEP/$(basename "$ACQ_DIR")"

# The desktop program against its built-in simulated instrument (--simulate), on a private
# virtual X server when no display is present. Two runs: the launcher as it comes up, then
# "/RUN", which connects and records the demo project (calibration first) until its first
# window is on disk. Each run ends with SIGTERM, after which the simulator's port link must be
# gone. Screenshots go into the build folder.
APP="$BUILD_DIR/src/app/lumivo"
if [[ ! -x $APP ]]; then
    echo "== desktop program: $APP not built (Qt 6 missing?), skipped"
else
    echo "== desktop program: lumivo --simulate"
    XVFB_PID=""
    APP_PID=""
    stop_desktop() {
        if [[ -n $APP_PID ]] && kill -0 "$APP_PID" 2>/dev/null; then
            kill -TERM "$APP_PID" 2>/dev/null || true
            wait "$APP_PID" 2>/dev/null || true
        fi
        if [[ -n $XVFB_PID ]]; then
            kill -TERM "$XVFB_PID" 2>/dev/null || true
            wait "$XVFB_PID" 2>/dev/null || true
        fi
        cleanup
    }
    trap stop_desktop EXIT
    if [[ -z ${DISPLAY:-} ]]; then
        command -v Xvfb >/dev/null || { echo "no display and no Xvfb: install xvfb" >&2; exit 1; }
        DISPLAY_FILE=$(mktemp /tmp/lumivo-display-XXXXXX)
        Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$DISPLAY_FILE" 2>/dev/null &
        XVFB_PID=$!
        for _ in $(seq 100); do [[ -s $DISPLAY_FILE ]] && break; sleep 0.1; done
        [[ -s $DISPLAY_FILE ]] || { echo "Xvfb did not start" >&2; exit 1; }
        export DISPLAY=":$(head -n1 "$DISPLAY_FILE")"
        rm -f "$DISPLAY_FILE"
        echo "virtual display $DISPLAY"
    fi

    # screenshot FILE: the whole screen, with ImageMagick's import (scripts/deps.sh installs
    # it; a missing one fails the job rather than skipping the pictures).
    command -v import >/dev/null || { echo "ImageMagick's import is missing: run scripts/deps.sh" >&2; exit 1; }
    screenshot() {
        import -window root "$1"
        echo "screenshot: $1"
    }

    # The number of counts.bin files of the demo project's acquisitions.
    recorded_runs() {
        find "$INSTALL_DIR/p$(printf %05d "$PROJECT")" -mindepth 2 -maxdepth 2 -name counts.bin \
            -size +0 2>/dev/null | wc -l
    }

    # run_desktop NAME SECONDS [ARGS...]: starts lumivo, waits for the simulator's link and
    # SECONDS more (and, with WAIT_FOR_RUNS set, until that many recordings have a window on
    # disk), takes the screenshot NAME, stops the program and checks the link is gone.
    run_desktop() {
        local name=$1 seconds=$2
        shift 2
        echo "-- $APP --simulate --install $INSTALL_DIR $*"
        "$APP" --simulate --install "$INSTALL_DIR" "$@" &
        APP_PID=$!
        local link=""
        for _ in $(seq 100); do
            link=$(find "$INSTALL_DIR/ports" -maxdepth 1 -name 'COM*' -type l 2>/dev/null | head -n1)
            [[ -n $link ]] && break
            kill -0 "$APP_PID" 2>/dev/null || { echo "lumivo ended early" >&2; exit 1; }
            sleep 0.1
        done
        [[ -n $link ]] || { echo "lumivo did not link its simulated instrument" >&2; exit 1; }
        echo "simulated instrument: $link -> $(readlink "$link")"
        if [[ -n ${WAIT_FOR_RUNS:-} ]]; then
            for _ in $(seq 600); do
                (($(recorded_runs) >= WAIT_FOR_RUNS)) && break
                kill -0 "$APP_PID" 2>/dev/null || { echo "lumivo ended early" >&2; exit 1; }
                sleep 0.5
            done
            (($(recorded_runs) >= WAIT_FOR_RUNS)) ||
                { echo "lumivo recorded no window within 300 s" >&2; exit 1; }
            echo "lumivo has recorded its first window"
        fi
        sleep "$seconds"
        kill -0 "$APP_PID" 2>/dev/null || { echo "lumivo ended early" >&2; exit 1; }
        screenshot "$BUILD_DIR/$name.png"
        kill -TERM "$APP_PID"
        local status=0
        wait "$APP_PID" || status=$?
        APP_PID=""
        [[ $status -eq 0 ]] || { echo "lumivo ended with status $status" >&2; exit 1; }
        [[ ! -e $link && ! -L $link ]] || { echo "lumivo left $link behind" >&2; exit 1; }
        echo "lumivo stopped and removed $link"
    }

    # The launcher after the paced start-up (about 2.5 s).
    run_desktop lumivo-launcher 4
    # "/RUN": start-up, connection to the simulated instrument, then the acquisition of the
    # demo project ("Autorun project"): calibration, auto-zero, sampling. The screenshot is
    # taken while it records, a few seconds after its first window reached the disk.
    WAIT_FOR_RUNS=2 run_desktop lumivo-main 5 /RUN

    # The pictures of the user guide, made from the windows themselves (offscreen); the same
    # pictures are in docs/images (scripts/guide_images.sh refreshes them).
    echo "== the user guide's pictures"
    "$BUILD_DIR/src/app/lumivo-guide-shots" --out "$BUILD_DIR/guide-images" \
        2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
fi
echo "== demo done"
