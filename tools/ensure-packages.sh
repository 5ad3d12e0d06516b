#!/usr/bin/env bash
# Installs the Debian packages a command needs, or prints the apt-get line
# when this user cannot install. With --check it only prints the line (and
# fails) where something is missing: for scripts a test runs, which must not
# install anything themselves.
# Usage: tools/ensure-packages.sh [--check] build|test|bench|windows|wine ...
set -euo pipefail

check_only=false
if [[ ${1:-} == --check ]]; then
    check_only=true
    shift
fi

declare -A needs=(
    # The Windows release under Wine (tools/wineprefix.sh, tst_acceptance_wine).
    [wine]="wine wine64 unzip xvfb xdotool xclip imagemagick"
    [build]="cmake g++ make qt6-base-dev qt6-serialport-dev fonts-arphic-uming fonts-noto-cjk"
    [test]="libx11-dev xvfb xdotool xclip imagemagick desktop-file-utils dpkg-dev lintian man-db groff-base"
    [bench]="clang libclang-rt-14-dev gtkterm xvfb libx11-dev"
    # Qt for Windows itself comes from ../shared/qt6-mingw; its moc, uic and rcc from Debian's Qt.
    [windows]="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev qt6-base-dev qt6-base-dev-tools cmake ninja-build xz-utils nsis zip python3-pefile"
)

wanted=()
for group in "$@"; do
    read -r -a list <<<"${needs[$group]}"
    wanted+=("${list[@]}")
done

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ $status == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if $check_only; then
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
elif ((EUID == 0)); then
    as_root=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    as_root=(sudo)
else
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing ${missing[*]} ..." >&2
export DEBIAN_FRONTEND=noninteractive
if ! "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >&2; then
    "${as_root[@]}" apt-get update >&2
    "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >&2
fi
