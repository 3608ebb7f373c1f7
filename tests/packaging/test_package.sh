#!/usr/bin/env bash
# Installs the build into a temporary root, then builds the Debian package
# and unpacks it into another: both must hold the programs, the desktop
# entry, the icons, the user guide and the copyright file, and the package
# must name the libraries the programs need.
#   test_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

check_tree() { # root prefix
    local root=$1 prefix=$2
    for f in bin/rava2-demo bin/rava2-sim bin/rava2-station share/applications/rava2-demo.desktop \
             share/man/man1/rava2-demo.1 share/man/man1/rava2-sim.1 share/man/man1/rava2-station.1 \
             share/icons/hicolor/scalable/apps/rava2-demo.svg \
             share/icons/hicolor/48x48/apps/rava2-demo.png \
             share/doc/rava2-demo/user-guide.txt share/doc/rava2-demo/README.md \
             share/doc/rava2-demo/copyright; do
        [ -s "$root$prefix/$f" ] || fail "$prefix/$f missing under $root"
    done
    [ -x "$root$prefix/bin/rava2-demo" ] || fail "rava2-demo not executable"
    local desktop=$root$prefix/share/applications/rava2-demo.desktop
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop entry does not validate"
    fi
    grep -qx 'Categories=Utility;Electronics;' "$desktop" || fail "desktop categories"
    # The entry starts the installed program by name, with the installed icon.
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -x "$root$prefix/bin/$exec" ] || fail "Exec=$exec is not an installed program"
    [ -f "$root$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon"
    head -n 1 "$root$prefix/share/doc/rava2-demo/user-guide.txt" | grep -qx 'USER GUIDE:' ||
        fail "user guide text"
    # The copyright file in Debian's machine-readable form: every file under
    # one licence, whose text is there.
    local copyright=$root$prefix/share/doc/rava2-demo/copyright
    head -n 1 "$copyright" |
        grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "copyright format line"
    grep -qx 'Files: \*' "$copyright" || fail "copyright: no Files: * paragraph"
    grep -qx 'Copyright: Copyright 2026 the Rava 2 Demo developers' "$copyright" ||
        fail "copyright: holder"
    [ "$(grep -c '^License: Expat$' "$copyright")" = 2 ] || fail "copyright: licence not named"
    grep -q '^ Permission is hereby granted, free of charge' "$copyright" ||
        fail "copyright: licence text"
    ASAN_OPTIONS=detect_leaks=0 "$root$prefix/bin/rava2-demo" --version | grep -qx 'rava2-demo 1.2' ||
        fail "installed rava2-demo does not run"
    ASAN_OPTIONS=detect_leaks=0 "$root$prefix/bin/rava2-station" --version |
        grep -qx 'rava2-station 1.2' || fail "installed rava2-station does not run"
}

cmake --install "$build" --prefix "$work/root/usr/local" >/dev/null
check_tree "$work/root" /usr/local
echo "install: ok"

cpack -G DEB -B "$work/pkg" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/pkg/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6serialport6 libqt6widgets6 qt6-qpa-plugins; do
    grep -q "$lib" <<<"$depends" || fail "package does not depend on $lib: $depends"
done
dpkg-deb -x "$deb" "$work/deb"
check_tree "$work/deb" /usr
echo "package $(basename "$deb"): ok (Depends: $depends)"
echo "2 passed, 0 failed"
