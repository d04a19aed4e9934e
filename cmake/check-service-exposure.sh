#!/bin/sh
# check-service-exposure.sh UNIT LIMIT BROVIK: systemd-analyze rates the unit's exposure LIMIT or
# lower (in tenths: 40 is 4.0) with a user of its own, while the root unit "Brovik -install"
# writes stays above it, so the limit is seen to bite.
unit=$1 limit=$2 brovik=$3
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
rate() { systemd-analyze security --offline=yes --threshold="$limit" "$1" >"$work/report" 2>&1; }

rate "$unit"
status=$?
tail -n 1 "$work/report"
grep -q "Overall exposure level for $(basename "$unit"):" "$work/report" ||
  { echo "no rating of $unit: $(cat "$work/report")"; exit 1; }
grep -q 'User=/DynamicUser=.*non-root' "$work/report" || { echo "the unit runs as root"; exit 1; }
[ "$status" -eq 0 ] || { echo "exposure above $limit tenths"; exit 1; }

(cd "$work" && VELTRANE_SYSTEMD_UNIT_DIR="$work" VELTRANE_SYSTEMCTL=true \
  QORVELL_REGISTRY="$work/registry.reg" "$brovik" -install) >/dev/null 2>&1 ||
  { echo "Brovik -install failed"; exit 1; }
rate "$work/$(basename "$unit")" && { echo "the root unit passes too: $(tail -n 1 "$work/report")"; exit 1; }
grep -q "Overall exposure level" "$work/report" || { echo "no rating: $(cat "$work/report")"; exit 1; }
exit 0
