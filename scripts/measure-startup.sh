#!/usr/bin/env bash
# Start-up of the program against another build of it, side by side in one
# X server: time to the first painted main window, peak resident memory by
# then, and whether the web engine is loaded by then (it must not be: the
# certificate window loads it when first shown). Runs alternate between the
# two programs so that a busy machine weighs on both alike.
#
#   bash scripts/measure-startup.sh BASELINE_PROGRAM [RUNS]    RUNS: default 15
set -euo pipefail
cd "$(dirname "$0")/.."

baseline="${1:?usage: measure-startup.sh BASELINE_PROGRAM [RUNS]}"
runs="${2:-15}"
build=build/default

cmake --build "$build" --target vyxvozeradavo startup_probe >/dev/null

# each program in a folder of its own: the settings file it writes touches nothing else
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/before" "$work/after"
cp "$baseline" "$work/before/vyxvozeradavo"
cp "$build/ui/vyxvozeradavo" "$build/ui/libvyxwebview.so" "$work/after/"

export probe="$PWD/$build/bench/startup_probe" work runs
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    for i in $(seq "$runs"); do
        for which in before after; do
            echo "$which $("$probe" "Vyx voze Radavo 2.2" "$work/$which/vyxvozeradavo")"
        done
    done' >"$work/results"

awk '
    { ms[$1] = ms[$1] " " $2; kb[$1] = kb[$1] " " $3; web[$1] += $4; n[$1]++ }
    function median(list,   v, k, i, j, t) {
        k = split(list, v, " ")
        for (i = 2; i <= k; i++) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
    }
    END {
        printf "%-8s %5s %22s %22s %24s\n", "program", "runs", "first paint ms (med)", "peak RSS MiB (med)", "web engine loaded runs"
        for (w in n) order[w == "before" ? 1 : 2] = w
        for (i = 1; i <= 2; i++) {
            w = order[i]
            printf "%-8s %5d %22.1f %22.1f %24d\n", w, n[w], median(ms[w]), median(kb[w]) / 1024, web[w]
        }
    }' "$work/results"
