#!/bin/sh
# Once the window is up: Kernel > Run (F6) hands the line to the terminal.
#   open.sh WINDOW_ID
# At start-up Corvade asks the kernel for its version; nothing answers on the harness's
# pty, and Run is refused while that request waits, so the version request's 5 s time-out
# is let pass first. Run then reopens the port at the terminal speed; the pause after F6
# lets that finish before the harness starts its probes.
set -eu
win=$1
sleep "${CORVADE_OPEN_WAIT:-5.5}"
# The harness takes the largest window it finds; when it looks while only the splash is
# up, it takes the splash, which closes after two seconds. Say so instead of an X error.
if ! xdotool getwindowname "$win" >/dev/null 2>&1; then
  echo "open.sh: window $win is gone: the harness found the splash window before the main window; run again" >&2
  exit 1
fi
xdotool windowfocus --sync "$win" key F6
sleep 1
