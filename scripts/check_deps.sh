#!/usr/bin/env bash
# Verifies that scripts/deps.sh installs every Debian package a configured build found, so that
# a fresh machine builds without a package someone once installed by hand.
#
# Every "<Name>_DIR" entry of BUILD_DIR/CMakeCache.txt that points at a package configuration
# folder (one holding <Name>Config.cmake or <name>-config.cmake) names a package CMake found.
# The Debian package owning that configuration file (dpkg -S) must be installed by deps.sh:
# either named in its list or in the hard-dependency closure of the list (Depends and
# Pre-Depends, followed recursively; Recommends do not count, because deps.sh installs with
# --no-install-recommends). A virtual name in the list stands for the packages providing it.
# Packages every Debian system has (Essential or Priority required) count as installed.
# Packages CMake finds through its own Find modules leave no configuration folder; for those the
# library file of each cache entry named in FOUND_BY_MODULE stands for the package.
#
# usage: scripts/check_deps.sh BUILD_DIR     (prints one line per package found; exit 1 when
#                                              any is missing from the closure)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:?usage: scripts/check_deps.sh BUILD_DIR}
CACHE=$BUILD_DIR/CMakeCache.txt
[[ -f $CACHE ]] || { echo "check_deps.sh: no $CACHE (configure the build first)" >&2; exit 2; }

mapfile -t LISTED < <(bash scripts/deps.sh --list)
((${#LISTED[@]} > 0)) || { echo "check_deps.sh: deps.sh --list printed no package" >&2; exit 2; }

# Real package names for the list: a name apt knows only as virtual becomes its providers.
ROOTS=()
for p in "${LISTED[@]}"; do
    if [[ -n $(apt-cache show --no-all-versions "$p" 2>/dev/null | sed -n 's/^Package: //p') ]]; then
        ROOTS+=("$p")
    else
        mapfile -t providers < <(apt-cache showpkg "$p" 2>/dev/null |
            awk '/^Reverse Provides:/ {on = 1; next} on && NF {print $1}' | sort -u)
        ((${#providers[@]} > 0)) || { echo "check_deps.sh: deps.sh lists \"$p\", which apt does not know" >&2; exit 1; }
        ROOTS+=("${providers[@]}")
    fi
done

# The closure: apt-cache prints every package reached on a line of its own at column 0;
# virtual packages appear there as <name> and are followed through their providers.
CLOSURE=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances "${ROOTS[@]}" 2>/dev/null |
    grep -E '^[a-z0-9]' | sed 's/:.*$//' | sort -u)
BASE=$(dpkg-query -W -f='${Package} ${Essential} ${Priority}\n' 2>/dev/null |
    awk '$2 == "yes" || $3 == "required" {print $1}' | sort -u)
have() { grep -qxF "$1" <<<"$CLOSURE" || grep -qxF "$1" <<<"$BASE"; }

# Cache entries of libraries found by CMake's Find modules (libcurl, GSL and its CBLAS).
FOUND_BY_MODULE=(CURL_LIBRARY_RELEASE GSL_LIBRARY GSL_CBLAS_LIBRARY)

missing=0
checked=0
# check NAME FILE: the Debian package owning FILE must come with deps.sh.
check() {
    local name=$1 file=$2 owners ok=""
    owners=$(dpkg-query -S "$file" 2>/dev/null | sed 's/: .*$//; s/, /\n/g; s/:[a-z0-9_-]*$//' | sort -u)
    if [[ -z $owners ]]; then
        echo "NOT FROM A PACKAGE: $name ($file belongs to no Debian package)"
        missing=$((missing + 1))
        return
    fi
    checked=$((checked + 1))
    for o in $owners; do have "$o" && ok=$o; done
    if [[ -n $ok ]]; then
        echo "ok: $name from $ok"
    else
        echo "MISSING: $name from $(echo $owners) is not installed by scripts/deps.sh (found $file)"
        missing=$((missing + 1))
    fi
}

while IFS='=' read -r entry dir; do
    name=${entry%_DIR}
    [[ -d $dir ]] || continue
    config=""
    for candidate in "$dir/${name}Config.cmake" "$dir/$(tr '[:upper:]' '[:lower:]' <<<"$name")-config.cmake"; do
        [[ -f $candidate ]] && { config=$candidate; break; }
    done
    [[ -n $config ]] || continue  # not a package configuration folder (e.g. the build's own)
    check "$name" "$config"
done < <(grep -E '^[A-Za-z0-9_]+_DIR:PATH=' "$CACHE" | sed 's/:PATH=/=/')

for entry in "${FOUND_BY_MODULE[@]}"; do
    file=$(sed -n "s/^$entry:FILEPATH=//p" "$CACHE")
    [[ -f $file ]] || continue  # not used by this build
    check "$entry" "$file"
done

if ((missing > 0)); then
    echo "check_deps.sh: $missing package(s) the build uses would be missing on a fresh machine: add them to scripts/deps.sh" >&2
    exit 1
fi
((checked > 0)) || { echo "check_deps.sh: no package configuration found in $CACHE" >&2; exit 2; }
echo "check_deps.sh: all $checked packages CMake found come with scripts/deps.sh"
