#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only
# those that are missing, so a second run is quick and needs no network.
# Extra package names may be given as arguments (the benchmark and fuzz
# scripts use this).
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    # The linker the build prefers: a third of the default one's time.
    lld
    # The sanitized build of the tests: clang and its sanitizers' runtime.
    clang libclang-rt-14-dev
    qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins
    # The Qt 6 build: Qt 6 keeps its platform plug-ins (offscreen for the
    # tests) apart; QSoundEffect needs nothing beyond libqt6multimedia6.
    qt6-base-dev qt6-multimedia-dev libqt6multimedia6 qt6-qpa-plugins
    libsndfile1-dev libsoxr-dev
    # Loudness of a layer (EBU R128).
    libebur128-dev
    # Kits packed as .h2drumkit (gzip tar) for import-kit.
    libarchive-dev
    # The install test checks the installed desktop entry, metainfo, MIME
    # type and manual page with these.
    desktop-file-utils appstream groff-base libxml2-utils shared-mime-info
    # It also makes the Debian package (cpack -G DEB) to check its
    # dependencies.
    dpkg-dev file
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
