#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder and checks it:
#   - dpkg-deb -c lists the programs, the shipped data, the user guide, the desktop entry, the
#     icon, the AppStream metainfo and the manual pages;
#   - lintian --pedantic --display-info reports no errors or warnings (the info and pedantic
#     tags it shows are listed); the desktop entry and the metainfo pass their validators;
#     the manual pages pass mandoc -T lint and man's warnings;
#   - the programs are hardened (bound now, fortified calls) and carry no .comment section; no
#     udev rule is active (the rule is a template under /usr/share/doc/lumivo);
#   - the programs run from an extracted copy (dpkg -x): --version of each, and
#     "lumivo-cli plate w96f" with a fresh installation folder filled from the package's data.
# The package is left in the build folder; its path is the last line of the output.
#
# usage: scripts/package.sh [BUILD_DIR]      (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build/default}
[[ -f $BUILD_DIR/CPackConfig.cmake ]] || { echo "package.sh: $BUILD_DIR is not configured" >&2; exit 2; }

fail() { echo "package.sh: $*" >&2; exit 1; }

echo "-- cpack -G DEB in $BUILD_DIR"
rm -f "$BUILD_DIR"/lumivo_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >cpack.log 2>&1) || { cat "$BUILD_DIR/cpack.log" >&2; fail "cpack failed"; }
DEBS=("$BUILD_DIR"/lumivo_*.deb)
[[ ${#DEBS[@]} -eq 1 && -f ${DEBS[0]} ]] || fail "expected one lumivo_*.deb in $BUILD_DIR"
DEB=${DEBS[0]}
dpkg-deb -f "$DEB" Package Version Architecture Depends

echo "-- contents"
CONTENTS=$(dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|')
for f in /usr/bin/lumivo /usr/bin/lumivo-cli /usr/bin/lumivo-sim \
    /usr/share/lumivo/data/config.dat /usr/share/lumivo/data/setup.dat \
    /usr/share/lumivo/data/w96f.dat /usr/share/lumivo/data/w384.dat \
    /usr/share/doc/lumivo/user-guide.md /usr/share/doc/lumivo/copyright \
    /usr/share/doc/lumivo/changelog.gz /usr/share/doc/lumivo/70-lumivo.rules \
    /usr/share/applications/org.lumivo.lumivo.desktop \
    /usr/share/icons/hicolor/scalable/apps/org.lumivo.lumivo.svg \
    /usr/share/metainfo/org.lumivo.lumivo.metainfo.xml \
    /usr/share/man/man1/lumivo.1.gz /usr/share/man/man1/lumivo-cli.1.gz \
    /usr/share/man/man1/lumivo-sim.1.gz; do
    grep -qx "$f" <<<"$CONTENTS" || fail "$DEB lacks $f"
done
if grep -E '^/(usr/)?lib/udev/' <<<"$CONTENTS"; then fail "$DEB installs an active udev rule"; fi
IMAGES=$(grep -c '^/usr/share/doc/lumivo/images/.*\.png$' <<<"$CONTENTS" || true)
((IMAGES > 0)) || fail "$DEB holds no pictures of the user guide"
echo "all expected files present ($(wc -l <<<"$CONTENTS") entries, $IMAGES guide pictures)"

echo "-- lintian"
LINTIAN_LOG=$(mktemp)
lintian --pedantic --display-info --fail-on error,warning "$DEB" >"$LINTIAN_LOG" 2>&1 ||
    { cat "$LINTIAN_LOG" >&2; rm -f "$LINTIAN_LOG"; fail "lintian reports errors or warnings"; }
grep -v 'running with root privileges' "$LINTIAN_LOG" || true
echo "lintian: no errors or warnings"
rm -f "$LINTIAN_LOG"

WORK=$(mktemp -d /tmp/lumivo-package-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
dpkg -x "$DEB" "$WORK/root"
desktop-file-validate "$WORK/root/usr/share/applications/org.lumivo.lumivo.desktop"
appstreamcli validate --no-net "$WORK/root/usr/share/metainfo/org.lumivo.lumivo.metainfo.xml"

echo "-- manual pages"
for p in lumivo lumivo-cli lumivo-sim; do
    page=$WORK/$p.1
    zcat "$WORK/root/usr/share/man/man1/$p.1.gz" >"$page"
    LINT=$(mandoc -T lint "$page" 2>&1 || true)
    [[ -z $LINT ]] || { echo "$LINT" >&2; fail "mandoc -T lint: $p.1"; }
    WARN=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
    [[ -z $WARN ]] || { echo "$WARN" >&2; fail "man --warnings: $p.1"; }
done
echo "mandoc -T lint and man --warnings: clean"

echo "-- the extracted programs"
BIN=$WORK/root/usr/bin
for p in lumivo lumivo-cli lumivo-sim; do
    prog=$BIN/$p
    DYNAMIC=$(readelf -d "$prog")
    grep -q 'BIND_NOW' <<<"$DYNAMIC" || fail "$p is not bound now (-z now)"
    SEGMENTS=$(readelf -lW "$prog")
    grep -q 'GNU_RELRO' <<<"$SEGMENTS" || fail "$p has no read-only relocations (-z relro)"
    SECTIONS=$(readelf -SW "$prog")
    if grep -q ' \.comment ' <<<"$SECTIONS"; then fail "$p keeps its .comment section"; fi
done
# lumivo-sim calls no C library function that has a fortified form (lintian says so as an info
# tag); the other two must call the fortified ones.
for p in lumivo lumivo-cli; do
    SYMBOLS=$(nm -D "$BIN/$p")
    grep -Eq ' __[a-z0-9_]+_chk(@|$)' <<<"$SYMBOLS" || fail "$p calls no fortified functions"
done
echo "hardened: bind now, relro, fortified calls, no .comment"
for p in lumivo lumivo-cli lumivo-sim; do
    out=$("$BIN/$p" --version) || fail "$p --version failed"
    [[ $out == "$p "* ]] || fail "$p --version printed \"$out\""
    echo "$out"
done
PLATE=$("$BIN/lumivo-cli" --install "$WORK/install" plate w96f) || fail "lumivo-cli plate w96f failed"
LINES=$(wc -l <<<"$PLATE")
[[ $LINES -eq 384 ]] || fail "lumivo-cli plate w96f printed $LINES lines, expected 384"
head -n 2 <<<"$PLATE"
# A fresh installation folder is filled from the package's data.
for f in config.dat setup.dat w96f.dat; do
    cmp -s "$WORK/install/$f" "$WORK/root/usr/share/lumivo/data/$f" ||
        fail "the installation folder's $f is not the packaged one"
done
echo "fresh installation folder filled from /usr/share/lumivo/data"
echo "package: $DEB"
echo "$DEB"
