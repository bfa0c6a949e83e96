#!/usr/bin/env bash
# Makes the pictures of the user guide again from the program's own windows and puts them into
# docs/images (8-bit palette PNGs, to keep the repository small). Run it after a change to a
# window the guide shows, look at the pictures, and commit them.
#
# usage: scripts/guide_images.sh [BUILD_DIR]     (default build/default, built already)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build/default}
SHOTS=$BUILD_DIR/src/app/lumivo-guide-shots
[[ -x $SHOTS ]] || { echo "guide_images.sh: $SHOTS is not built" >&2; exit 1; }
command -v convert >/dev/null || { echo "guide_images.sh: ImageMagick's convert is missing (scripts/deps.sh installs it)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/lumivo-guide-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
# The installation folder of the pictures: a path that reads well in the report window. The
# windows' remembered sizes and places go to a configuration folder of this run, so the pictures
# do not depend on how the windows were left on this machine.
XDG_CONFIG_HOME="$WORK/config" "$SHOTS" --out "$WORK/out" --install "$WORK/home/lab/lumivo" 2> >(grep -v propagateSizeHints >&2)
mkdir -p docs/images
for f in "$WORK"/out/*.png; do
    convert "$f" -strip -colors 128 "PNG8:docs/images/$(basename "$f")"
    echo "docs/images/$(basename "$f"): $(stat -c %s "docs/images/$(basename "$f")") bytes"
done
