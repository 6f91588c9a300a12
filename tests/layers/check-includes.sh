#!/usr/bin/env bash
# Every #include of ours points down: each folder is one floor and may include
# only from the floors listed for it. Prints each include that climbs.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

declare -A allowed=(
    [base]="base"
    [ports]="base ports"
    [link]="base ports module link"
    [module]="base module"
    [files]="base ports link module files"
    [production]="base module files production"
    [session]="base ports link module files production session"
    [widgets]="widgets"
    [ui]="base ports link module files production session widgets ui"
    [tools]="base ports link module files production session tools"
)

status=0
for floor in "${!allowed[@]}"; do
    while IFS=: read -r file line text; do
        target="$(sed -E 's/^#include "([^/"]+)\/.*/\1/' <<<"$text")"
        [[ -v "allowed[$target]" ]] || continue # not a folder of ours (uic, moc)
        if [[ " ${allowed[$floor]} " != *" $target "* ]]; then
            echo "$file:$line: $floor/ may not include from $target/: $text"
            status=1
        fi
    done < <(grep -rn --include='*.cpp' --include='*.h' -E '^#include "[^/"]+/' "$floor" || true)
done
exit "$status"
