#!/bin/sh
# Before each run: Corvade has no device option, so its settings name the harness's pty as
# COM 2 (the default port) with the terminal speed at the harness's baud rate, and a
# small HEX file gives it something to load.
#   setup.sh CONFIG_DIR HOME_DIR DEVICE BAUD
set -eu
cfg=$1 home=$2 dev=$3 baud=$4
mkdir -p "$cfg/Corvade" "$home"
printf '[Ports]\nCOM%%202=%s\n\n[Terminal]\nTerminal%%20speed=%s\n' "$dev" "$baud" >"$cfg/Corvade/Corvade.conf"
# CORVADE_TOOLS: entries of the [Tools] group, e.g. "HexView=True" or "TimeStamps=True".
if [ -n "${CORVADE_TOOLS-}" ]; then
  printf '\n[Tools]\n' >>"$cfg/Corvade/Corvade.conf"
  printf '%s\n' $CORVADE_TOOLS >>"$cfg/Corvade/Corvade.conf"
fi
# One data record (a NOP at 0): a file without data is refused, and Run stays disabled.
printf ':0100000000FF\r\n:00000001FF\r\n' >"$home/x.hex"
