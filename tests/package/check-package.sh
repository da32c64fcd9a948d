#!/usr/bin/env bash
# Builds the Debian package from a finished build folder and checks it as Debian's own tools
# do: the menu entry, the AppStream metadata and lintian, then what the package holds and
# that its dependencies were worked out from the program. Usage: check-package.sh <build>
set -euo pipefail

build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" \
    || { cat "$out/cpack.log"; exit 1; }
debs=("$out"/syncarium-sendlogfiles_*_"$(dpkg --print-architecture)".deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "no package in $out:"; ls "$out"; exit 1; }
echo "package: $(basename "$deb")"

root=$out/root
dpkg-deb -x "$deb" "$root"
for path in usr/bin/sendLogFiles \
            usr/share/applications/syncarium-sendlogfiles.desktop \
            usr/share/icons/hicolor/256x256/apps/syncarium-sendlogfiles.png \
            usr/share/metainfo/com.syncarium.sendlogfiles.metainfo.xml \
            usr/share/man/man1/sendLogFiles.1.gz \
            usr/share/doc/syncarium-sendlogfiles/copyright \
            usr/share/doc/syncarium-sendlogfiles/changelog.gz; do
    [ -f "$root/$path" ] || { echo "missing from the package: /$path"; exit 1; }
done

desktop-file-validate "$root/usr/share/applications/syncarium-sendlogfiles.desktop"
appstreamcli validate --no-net --pedantic \
    "$root/usr/share/metainfo/com.syncarium.sendlogfiles.metainfo.xml"
man --warnings -l "$root/usr/share/man/man1/sendLogFiles.1.gz" >/dev/null

depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
for library in libc6 libqt6core6 libqt6widgets6 libqt6dbus6 libquazip1-qt6 libdeflate0; do
    grep -q "$library" <<<"$depends" || { echo "Depends lacks $library"; exit 1; }
done

# Lintian's errors fail the check; its warnings are printed for the reader.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "package checked"
