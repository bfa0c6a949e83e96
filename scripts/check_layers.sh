#!/usr/bin/env bash
# Checks the layering of the sources: every `#include "..."` of a file under src/ must stay in
# the file's own unit or run down to a unit of a lower level. So no include runs back up, and
# no two units include each other (units of one level may not include each other at all).
# The core (src/core), the simulator (src/sim) and the command line (src/cli) include no Qt
# header. Exits 1 and names every include that breaks a rule; 2 when a file belongs to no
# unit of the table below (a new folder must be given its level here).
#
# usage: scripts/check_layers.sh [SRC_DIR]      (default: src of this checkout)
set -euo pipefail
SRC=$(realpath "${1:-$(dirname "$0")/../src}")
[[ -d $SRC/core ]] || { echo "check_layers.sh: $SRC is not a source folder" >&2; exit 2; }

# The units from the ground floor up. A unit is a folder below src/ (below src/core and
# src/app, and the three families of src/core/reporting, each folder is a unit of its own); the
# files at the top of src/app (main.cpp) are the unit "app".
LEVELS=(
    "core/common"                      # channel counts, COM-port range, rounding
    "core/platform core/statistics"    # the Dialogs and Clock ports; the installation folder; tests and fits
    "core/storage"                     # the files of the installation and of a project
    "core/device core/analysis core/notify"  # the instrument; the activity maths; notifications
    "core/state"                       # the program-wide state
    "core/control"                     # calibration, zero, light and temperature
    "core/acquisition"                 # recording
    "core/reporting/report core/setup" # the report; project operations
    "core/reporting/rhythm"            # the rhythm and sleep views
    "core/reporting/export core/reporting/compare"  # the per-well files, tidy tables; screens
    "core/offline"                     # recorded acquisitions browsed and joined
    "core/startup"                     # the program's start and end
    "sim"                              # the simulated instrument
    "cli app/support"                  # the command line; what every window shares
    "app/plots"                        # the drawings: activity, signal, plate
    "app/panels"                       # parts a window is built from
    "app/windows"                      # the windows the main window opens
    "app/main_window"                  # the main window and its parts
    "app"                              # the desktop program's main()
)
declare -A LEVEL
for i in "${!LEVELS[@]}"; do
    for unit in ${LEVELS[$i]}; do LEVEL[$unit]=$i; done
done

# The unit of a path relative to src/.
unit_of() {
    local rel=$1
    case $rel in
        core/reporting/*/*) rel=${rel#core/reporting/}; echo "core/reporting/${rel%%/*}" ;;
        core/*/*) rel=${rel#core/}; echo "core/${rel%%/*}" ;;
        app/*/*) rel=${rel#app/}; echo "app/${rel%%/*}" ;;
        */*) echo "${rel%%/*}" ;;
        *) echo "${rel%%.*}" ;;
    esac
}

violations=0
unknown=0
checked=0
declare -A PAIRS
while IFS= read -r file; do
    rel=${file#"$SRC"/}
    from=$(unit_of "$rel")
    if [[ -z ${LEVEL[$from]+x} ]]; then
        echo "$file: unit $from has no level in scripts/check_layers.sh" >&2
        unknown=1
        continue
    fi
    while IFS=: read -r line target; do
        checked=$((checked + 1))
        if [[ ! -f $SRC/$target ]]; then
            echo "$file:$line: includes \"$target\", which is not a file of $SRC" >&2
            violations=$((violations + 1))
            continue
        fi
        to=$(unit_of "$target")
        [[ $to == "$from" ]] && continue
        if [[ -z ${LEVEL[$to]+x} ]]; then
            echo "$SRC/$target: unit $to has no level in scripts/check_layers.sh" >&2
            unknown=1
        elif ((LEVEL[$to] >= LEVEL[$from])); then
            echo "$file:$line: includes $target: $from (level ${LEVEL[$from]}) may not include $to (level ${LEVEL[$to]})" >&2
            violations=$((violations + 1))
        else
            PAIRS["$from -> $to"]=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
        sed 's/^\([0-9]*\):[^"]*"\([^"]*\)".*/\1:\2/' || true)
done < <(find "$SRC" -name '*.h' -o -name '*.cpp' | sort)

# No Qt below the windows.
while IFS= read -r hit; do
    echo "$hit: a Qt header outside src/app" >&2
    violations=$((violations + 1))
done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' -r "$SRC/core" "$SRC/sim" "$SRC/cli" \
    --include='*.h' --include='*.cpp' | cut -d: -f1,2 || true)

if ((unknown)); then exit 2; fi
if ((violations)); then
    echo "check_layers.sh: $violations includes break the layering" >&2
    exit 1
fi
echo "check_layers.sh: $checked includes of $SRC follow the layers (${#PAIRS[@]} unit pairs, all downward)"
