#!/bin/sh
# check-service-unit.sh UNIT BROVIK POSTINST: the package's unit starts the server as the unit
# "Brovik -install" writes does, under the same name; its registry file lies in the state folder
# the sandbox leaves writable; it runs as the user and in the folder postinst makes.
set -f
unit=$1 brovik=$2 postinst=$3
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
value() { sed -n "s/^$1=//p" "$2"; }

(cd "$work" && VELTRANE_SYSTEMD_UNIT_DIR="$work" VELTRANE_SYSTEMCTL=true \
  QORVELL_REGISTRY="$work/registry.reg" "$brovik" -install) >/dev/null 2>&1 ||
  fail "Brovik -install failed"
written="$work/$(basename "$unit")"
[ -f "$written" ] || fail "Brovik -install wrote no $(basename "$unit"): $(ls "$work")"
ours=$(value ExecStart "$unit" | cut -d' ' -f2-)
theirs=$(value ExecStart "$written" | cut -d' ' -f2-)
[ "$ours" = "$theirs" ] || fail "ExecStart arguments '$ours', Brovik -install's '$theirs'"

state=/var/lib/$(value StateDirectory "$unit")
registry=$(value Environment "$unit" | sed -n 's/^QORVELL_REGISTRY=//p')
case $registry in
  "$state"/*) ;;
  *) fail "registry file '$registry' outside the writable state folder $state" ;;
esac
[ "$(value ConditionPathExists "$unit")" = "$registry" ] ||
  fail "the unit waits for $(value ConditionPathExists "$unit"), not its registry $registry"
grep -qx "user='$(value User "$unit")'" "$postinst" || fail "postinst makes another user"
grep -qx "state='$state'" "$postinst" || fail "postinst makes another state folder"
