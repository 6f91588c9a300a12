#!/usr/bin/env bash
# Runs "vyxctl assign" and "vyxctl write --master --app-id next" on the same
# settings file at the same moment or one during the other, again and again, each against a simulator
# of its own, and checks that no serial number is ever written twice: the
# settings lock lets one of the two through and refuses the other (exit 5),
# and assign stores HWAddress alone, never an old LastAppID over a new one.
#
#   bash scripts/race-settings-writers.sh [ROUNDS] [BUILD_DIR]   (100, build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-100}
build=${2:-build/default}
ctl=$build/tools/vyxctl/vyxctl
sim=$build/tools/module-sim/vyx-module-sim
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

# one simulator, its commands from a pipe kept open on the given descriptor;
# where it listens in $where
start_sim() {
    local name=$1 fd=$2
    mkfifo "$work/$name.in"
    "$sim" --tcp 127.0.0.1:0 --quiet --port-file "$work/$name.port" <"$work/$name.in" >/dev/null &
    pids+=($!)
    eval "exec $fd>\"$work/$name.in\""
    for _ in $(seq 100); do [[ -s $work/$name.port ]] && break; sleep 0.05; done
    where=127.0.0.1:$(cat "$work/$name.port")
}
start_sim assign 7
assign_at=$where
start_sim write 8
write_at=$where

settings=$work/line.ini
printf '; the line'"'"'s settings\n[Communication]\nHWAddress=1\n[ReaderData]\nLastAppID=000000FF\n' >"$settings"

declare -A outcome
: >"$work/serials"
for ((round = 1; round <= rounds; round++)); do
    echo "assign on" >&7
    "$ctl" --settings "$settings" --lan "$assign_at" assign 5 >/dev/null 2>"$work/assign.err" &
    assign=$!
    # at once, or later: into the assignment, or after it
    sleep "$((RANDOM % 3)).$((RANDOM % 10))"
    "$ctl" --settings "$settings" --lan "$write_at" --address 1 --json write --master --app-id next \
        --add-card 1234 --del-card 5678 >"$work/write.out" 2>"$work/write.err" &
    write=$!
    wait "$assign" && a=0 || a=$?
    wait "$write" && w=0 || w=$?
    outcome["assign $a, write $w"]=$((${outcome["assign $a, write $w"]:-0} + 1))
    sed -n 's/.*"serialNumber":"\([0-9A-F]*\)".*/\1/p' "$work/write.out" >>"$work/serials"
done

for key in "${!outcome[@]}"; do echo "$key: ${outcome[$key]} rounds"; done | sort
written=$(wc -l <"$work/serials")
twice=$(sort "$work/serials" | uniq -d)
echo "serial numbers written: $written, distinct: $(sort -u "$work/serials" | wc -l)"
echo "settings file after the race:"
cat "$settings"
[[ -z $twice ]] || { echo "FAIL: written twice: $twice" >&2; exit 1; }
echo "race: ok"
