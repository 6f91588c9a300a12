#!/usr/bin/env bash
# Builds everything, starts the module simulator on a local TCP port and runs
# the program against it from a folder of its own (build/demo), so that no
# settings file of a real installation is touched. The simulator reads its
# commands ("card 1234", "tamper on", "silent on", "help") from this terminal
# and stops when the program exits.
#
#   bash scripts/run-with-simulator.sh [PORT]    PORT 0 or none: a free one
set -euo pipefail
cd "$(dirname "$0")/.."

port="${1:-0}"
build=build/default
demo=build/demo

bash scripts/setup.sh default

mkdir -p "$demo"
cp "$build/ui/vyxvozeradavo" "$build/ui/libvyxwebview.so" "$demo/"

# Sets one key of an INI file, keeping every other line as it is.
set_ini_key() {
    local file=$1 section=$2 key=$3 value=$4 tmp
    tmp=$(mktemp)
    awk -v s="$section" -v k="$key" -v v="$value" '
        function flush() { if (insec && !done) { print k "=" v; done = 1 } }
        /^[[:space:]]*\[/ {
            flush()
            name = $0; gsub(/^[[:space:]]*\[|\][[:space:]]*$/, "", name)
            insec = tolower(name) == tolower(s)
            print; next
        }
        insec && index(tolower($0), tolower(k) "=") == 1 { if (!done) print k "=" v; done = 1; next }
        { print }
        END { flush(); if (!done) { print "[" s "]"; print k "=" v } }
    ' "$file" >"$tmp"
    mv "$tmp" "$file"
}

port_file=$(mktemp)
sim_pid=""
stop_simulator() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    rm -f "$port_file"
}
trap stop_simulator EXIT

# the simulator takes its commands from the terminal when there is one
sim_input=/dev/null
[[ -t 0 ]] && sim_input=/dev/tty
"$build/tools/module-sim/vyx-module-sim" --tcp "127.0.0.1:$port" --port-file "$port_file" --quiet <"$sim_input" &
sim_pid=$!

for _ in $(seq 50); do
    [[ -s "$port_file" ]] && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "run: the simulator did not start (port $port busy?)" >&2; exit 1; }
    sleep 0.1
done
[[ -s "$port_file" ]] || { echo "run: the simulator did not report its port" >&2; exit 1; }
sim_port=$(<"$port_file")

ini="$demo/VyxvozeRadavo.ini"
touch "$ini"
set_ini_key "$ini" Communication CommunicationMode LAN
set_ini_key "$ini" Communication IPAddress 127.0.0.1
set_ini_key "$ini" Communication IPPort "$sim_port"
set_ini_key "$ini" Version SetMaster 1

echo "run: simulator on 127.0.0.1:$sim_port; choose Start in the window. Simulator commands: type help here."
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "run: no display: running under xvfb-run -a, so the window is not visible (Ctrl+C ends it)"
    xvfb-run -a "$demo/vyxvozeradavo"
else
    "$demo/vyxvozeradavo"
fi
