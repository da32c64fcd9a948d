#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program's demo run need.
set -euo pipefail

packages=(g++ cmake ninja-build qt6-base-dev qt6-qpa-plugins libquazip1-qt6-dev libdeflate-dev
          libxcb1-dev pkg-config xvfb xauth x11-utils zip unzip python3
          util-linux mount e2fsprogs clang libfuzzer-14-dev)
# A FUSE file system, which knows no rename flags, for the file operations tests.
packages+=(bindfs fuse3)

missing=()
# Readers the archive tests check every written archive with.
packages+=(p7zip-full libarchive-tools)
# The zipper benchmark's reference without fsync.
packages+=(eatmydata)
# The private session bus of the file-manager tests, and the tools that build and check the
# Debian package.
packages+=(dbus-daemon dpkg-dev file desktop-file-utils appstream lintian man-db)
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
