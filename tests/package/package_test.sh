#!/bin/sh
# Usage: package_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/corvade-package.XXXXXX")
board=
cleanup() {
    [ -n "$board" ] && kill "$board" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb was made"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
    echo "$depends" | grep -q "$lib" || fail "the package does not depend on $lib"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/corvade usr/bin/corvade-board \
         "usr/share/corvade/kernel/how to corvade.txt" \
         usr/share/corvade/examples/hello.hex \
         usr/share/applications/corvade.desktop \
         usr/share/icons/hicolor/scalable/apps/corvade.svg \
         usr/share/mime/packages/corvade.xml; do
    [ -e "$root/$f" ] || fail "$f is missing from the package"
done
grep -q '^MimeType=text/x-hex;' "$root/usr/share/applications/corvade.desktop" || fail "no MIME type in the desktop entry"
grep -q 'pattern="\*.ihx"' "$root/usr/share/mime/packages/corvade.xml" || fail "*.ihx is not a HEX file"

"$root/usr/bin/corvade" --version | grep -q '^corvade ' || fail "corvade --version"

# Start the installed board and the installed program against it, offscreen, with the
# installed hello example; a SIGTERM must close it the ordinary way.
link="$work/ttyBOARD"
"$root/usr/bin/corvade-board" --link "$link" --time-limit 120 >"$work/board.out" 2>&1 &
board=$!
tries=0
while [ ! -L "$link" ]; do
    tries=$((tries + 1)); [ "$tries" -lt 100 ] || fail "the board did not start"; sleep 0.1
done
mkdir -p "$work/config/Corvade"
printf '[Ports]\nCOM%%202=%s\n' "$link" >"$work/config/Corvade/Corvade.conf"
XDG_CONFIG_HOME="$work/config" "$root/usr/bin/corvade" "$root/usr/share/corvade/examples/hello.hex" \
    >"$work/corvade.out" 2>&1 &
app=$!
sleep 3
kill -0 "$app" 2>/dev/null || { cat "$work/corvade.out"; fail "corvade ended by itself"; }
kill -TERM "$app"
status=0
wait "$app" || status=$?
[ "$status" -eq 0 ] || { cat "$work/corvade.out"; fail "corvade exited with $status after SIGTERM"; }
grep -q 'Recent%200=.*hello.hex' "$work/config/Corvade/Corvade.conf" || fail "the settings were not saved"
echo "package test: $(basename "$deb") installs and runs"
