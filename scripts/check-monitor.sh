#!/usr/bin/env bash
# Checks what runs `tovrinctl monitor` as a service, from the source tree or an unpacked package:
#
#   scripts/check-monitor.sh --program PATH [--unit FILE] [--rules FILE] [--alertmanager FILE]
#
# - the systemd unit (default packaging/tovrin-monitor@.service), as the instance for eth0, with its
#   ExecStart pointed at PATH: `systemd-analyze verify` without a word of complaint, and
#   `systemd-analyze security --offline=true` rating it OK or better (nothing is started); the
#   instance name taken as it is (%i: tovrin-monitor@br-lan watches br-lan, not br/lan) and a state
#   folder for the saved list;
# - the alerting rules (default packaging/tovrin-alerts.yml): `promtool check rules`, and
#   `promtool test rules` with tests/packaging/tovrin-alerts_test.yml run against that file;
# - the example Alertmanager configuration (default docs/alertmanager.yml): `amtool check-config`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
unit=$root/packaging/tovrin-monitor@.service
rules=$root/packaging/tovrin-alerts.yml
alertmanager=$root/docs/alertmanager.yml
program=
while [ $# -gt 0 ]; do
    case $1 in
        --program) program=$2; shift 2 ;;
        --unit) unit=$2; shift 2 ;;
        --rules) rules=$2; shift 2 ;;
        --alertmanager) alertmanager=$2; shift 2 ;;
        *) echo "usage: check-monitor.sh --program PATH [--unit FILE] [--rules FILE] [--alertmanager FILE]" >&2; exit 2 ;;
    esac
done
[ -x "$program" ] || { echo "check-monitor: no program at '$program'" >&2; exit 2; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
for tool in systemd-analyze promtool amtool; do
    command -v "$tool" >/dev/null || { echo "check-monitor: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-monitor: $*" >&2; exit 1; }

name=$(basename "$unit")
sed "s|/usr/bin/tovrinctl|$program|" "$unit" >"$work/$name"
ln -s "$name" "$work/${name/@./@eth0.}"
instance=$work/${name/@./@eth0.}
complaints=$(systemd-analyze verify --man=no "$instance" 2>&1) || fail "systemd-analyze verify failed: $complaints"
[ -z "$complaints" ] || fail "systemd-analyze verify complains: $complaints"
echo "  systemd-analyze verify: no complaint"
rating=$(systemd-analyze security --offline=true "$instance" | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) \([A-Z]*\).*/\1 \2/p')
case ${rating#* } in
    PERFECT | SAFE | OK) echo "  systemd-analyze security: $rating" ;;
    *) fail "systemd-analyze security rates the unit '${rating:-unknown}', not OK or better" ;;
esac

! grep -q '%I' "$unit" || fail "the unit unescapes its instance name (%I): br-lan would become br/lan"
grep -q '^StateDirectory=' "$unit" || fail "the unit has no state folder for the saved list"
grep -q -- '--state /var/lib/' "$unit" || fail "the unit does not keep the list in its state folder"
echo "  instance name as it is, state folder"

promtool check rules "$rules" | sed 's/^/  /'
# The rule tests name the rules file relative to themselves: give them the one checked here.
sed "s|^  - \.\./\.\./packaging/tovrin-alerts\.yml$|  - $rules|" "$root/tests/packaging/tovrin-alerts_test.yml" >"$work/alerts_test.yml"
grep -qF -- "- $rules" "$work/alerts_test.yml" || fail "the rule tests do not load $rules"
promtool test rules "$work/alerts_test.yml" | sed 's/^/  /'
amtool check-config "$alertmanager" | sed 's/^/  /'
