#!/usr/bin/env bash
# Floods Corvade's terminal through the shared serial-terminal harness, beside the GUI
# peers, in one run. See README.md next to this file.
#   run.sh HARNESS_DIR CORVADE_BINARY [harness options, e.g. --sizes 1M --reps 1]
# CORVADE_PEERS lists the built-in peers measured alongside (default "cutecom gtkterm";
# empty: Corvade alone).
set -euo pipefail
if (($# < 2)); then
  sed -n '2,6p' "$0" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
harness=$(cd "$1" && pwd)
corvade=$(realpath "$2")
shift 2
[[ -x "$corvade" ]] || { echo "run.sh: $corvade is not an executable" >&2; exit 2; }
[[ -x "$harness/run.sh" ]] || { echo "run.sh: $harness has no run.sh (copy the harness folder first)" >&2; exit 2; }

peers=()
for p in ${CORVADE_PEERS-cutecom gtkterm}; do
  peers+=(--peer "$p")
done

exec "$harness/run.sh" "${peers[@]}" \
  --cmd "$(printf '%q' "$corvade") {home}/x.hex" --name corvade --kind gui \
  --setup "$(printf '%q' "$here/setup.sh") {cfg} {home} {dev} {baud}" \
  --open "$(printf '%q' "$here/open.sh") {win}" \
  --env 'LD_PRELOAD={here}/build/ptymodem_shim.so' \
  "$@"
