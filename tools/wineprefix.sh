#!/usr/bin/env bash
# Makes a Wine prefix for the Windows consoles: its COM1 and COM2 are the links
# PREFIX/ports/com1 and PREFIX/ports/com2, to be pointed at a device (a
# pseudo-terminal, a USB adapter) before a console starts; Wine follows them at
# every open, so re-pointing needs no restart. COM3 and COM4 lead nowhere: Wine
# would otherwise number the machine's /dev/ttyS* from COM1 on.
#   DISPLAY=:N tools/wineprefix.sh PREFIX      (Debian's Wine 8; about 15 s)
set -euo pipefail
"$(dirname "$0")/ensure-packages.sh" --check wine
prefix=$(realpath -m "$1")
export WINEPREFIX=$prefix WINEDEBUG=-all
# Without these the first start waits minutes for .NET and Gecko to be offered.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver
link() { if ((port <= 2)); then echo "$WINEPREFIX/ports/com$port"; fi; }

mkdir -p "$WINEPREFIX/ports"
"$wine" wineboot -i
for port in 1 2 3 4; do
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /t REG_SZ /d "$(link)" /f >/dev/null
done
# The server maps the ports when it starts; the first boot mapped COM1 to /dev/ttyS0. The new
# one stays a minute after the last program, so that the next starts sooner, and quietly: when
# it ends it lists what programs ending without cleaning up left behind.
"$server" -k || true
"$server" -w
"$server" -p60 2>/dev/null
"$wine" cmd /c exit
for port in 1 2 3 4; do
    mapped=$(readlink "$WINEPREFIX/dosdevices/com$port" || true)
    if [[ $mapped != "$(link)" ]]; then
        echo "COM$port maps to '$mapped'" >&2
        exit 1
    fi
done
