#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a
# user see: valid desktop entry and metainfo, the icon and language files, an
# installed program that keeps its settings in the user's config folder and
# writes nothing into the prefix, and a copy in a plain folder that keeps its
# settings beside itself; the manual pages and vyxctl's help for each command;
# vyxctl without the web engine but for its certificate, from the installed
# plug-in.
#   test_install.sh BUILD_DIR
set -euo pipefail
build=$1
id=cz.kalvent.VyxvozeRadavo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null
for f in share/icons/hicolor/scalable/apps/$id.svg share/vyxvozeradavo/en.lng share/vyxvozeradavo/cs.lng \
         lib/vyxvozeradavo/plugins/libvyxwebview.so lib/vyxvozeradavo/plugins/libvyxctlpdf.so \
         share/bash-completion/completions/vyxctl bin/vyxvozeradavo bin/vyx-module-sim bin/vyxctl; do
    [[ -f "$prefix/$f" ]] || fail "$f not installed"
done

# The manual pages render without a warning; every command vyxctl lists
# answers --help, and the manual describes it and each option its help names.
for page in vyxvozeradavo vyxctl vyx-module-sim; do
    file=$prefix/share/man/man1/$page.1.gz
    [[ -f "$file" ]] || fail "$page(1) not installed"
    rendered=$(MANWIDTH=80 man --warnings -l "$file" 2>"$work/man-warnings") || fail "$page(1) does not render"
    [[ ! -s "$work/man-warnings" ]] || fail "$page(1): $(cat "$work/man-warnings")"
    [[ "$rendered" == *NAME*"$page"* ]] || fail "$page(1) renders without its name"
done
manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man --nh --nj -l "$prefix/share/man/man1/vyxctl.1.gz")
commands=$("$prefix/bin/vyxctl" --help | awk '/^Commands:/ { on = 1; next } on && NF == 0 { exit } on && /^  [a-z]/ { print $1 }')
[[ -n "$commands" ]] || fail "vyxctl --help lists no command"
for command in $commands; do
    "$prefix/bin/vyxctl" "$command" --help >"$work/help" || fail "vyxctl $command --help ended with $?"
    grep -q "^Usage: vyxctl \[OPTIONS\] $command" "$work/help" || fail "vyxctl $command --help: $(head -1 "$work/help")"
    grep -qE "^ +$command( |$)" <<<"$manual" || fail "vyxctl(1) does not describe $command"
    for option in $(grep -oE -- '--[a-z-]+' "$work/help" | sort -u); do
        grep -qF -- "$option" <<<"$manual" || fail "vyxctl(1) does not describe $option"
    done
done

! ldd "$prefix/bin/vyxctl" | grep -i webengine || fail "vyxctl links the web engine"
QT_QPA_PLATFORM=offscreen "$prefix/bin/vyxctl" certificate --serial 0012a3ff --out "$work/certificate.pdf" \
    >"$work/certificate.out" || fail "installed vyxctl certificate ended with $?"
[[ $(head -c 5 "$work/certificate.pdf") == %PDF- ]] || fail "installed vyxctl certificate wrote no PDF"
grep -q "certificate for 0012A3FF" "$work/certificate.out" || fail "certificate: $(cat "$work/certificate.out")"
[[ $("$prefix/bin/vyx-module-sim" --version) == "vyx-module-sim "* ]] || fail "vyx-module-sim --version"

# Runs the program with its own HOME until it catches SIGTERM, then ends it
# with that signal, as a logout would.
run_and_terminate() {
    local program=$1 home=$2 pid
    mkdir -p "$home"
    env -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR HOME="$home" QT_QPA_PLATFORM=offscreen "$program" &
    pid=$!
    # ready once SIGTERM (bit 14 of the caught-signal mask) has a handler
    for _ in $(seq 200); do
        local caught
        caught=$(awk '/^SigCgt:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [[ -n "$caught" ]] && (( (16#$caught >> 14) & 1 )) && break
        sleep 0.05
    done
    kill -TERM "$pid"
    for _ in $(seq 200); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "$program did not end on SIGTERM"; }
    wait "$pid" || fail "$program ended with status $?"
}

find "$prefix" -type f | sort >"$work/before"
run_and_terminate "$prefix/bin/vyxvozeradavo" "$work/home"
settings=$work/home/.config/VyxvozeRadavo/VyxvozeRadavo.ini
[[ -f "$settings" ]] || fail "installed: no settings file in the user's config folder"
grep -q '^\[Window\]' "$settings" || fail "installed: settings file without [Window]"
find "$prefix" -type f | sort >"$work/after"
diff -u "$work/before" "$work/after" || fail "installed: files written into the prefix"

mkdir "$work/plain"
cp "$prefix/bin/vyxvozeradavo" "$work/plain/"
run_and_terminate "$work/plain/vyxvozeradavo" "$work/home2"
[[ -f "$work/plain/VyxvozeRadavo.ini" ]] || fail "portable: no settings file beside the program"
[[ ! -e "$work/home2/.config/VyxvozeRadavo" ]] || fail "portable: wrote into the user's config folder"
echo "install: ok"
