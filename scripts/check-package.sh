#!/usr/bin/env bash
# Checks a built Debian package (scripts/package.sh) the way a user's machine would meet it:
#
#   scripts/check-package.sh DEB [--build DIR] [--install]
#
# lintian (no errors), desktop-file-validate and appstreamcli on the files in the package; then,
# unpacked into a temporary root: the desktop entry and its icon point at files of the package,
# the program finds its window library inside the package (RUNPATH), the library exports the
# finder functions once their public header is packaged, and the program starts under Xvfb as an
# ordinary user in the private network and does its work there (scripts/check-user-run.sh:
# discovery, the command menu, settings and upload, the finder; with the simulator and helpers of
# the build tree DIR, default build/). With --install the package is also installed with apt-get,
# run from /usr/bin the same way, and removed again; every file it brought must be gone afterwards.
# Needs root.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deb=
build=$root/build
install=0
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --install) install=1; shift ;;
        -h|--help) sed -n '2,14s/^# \{0,1\}//p' "$0"; exit 0 ;;
        -*) echo "check-package: unknown option $1" >&2; exit 2 ;;
        *) deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); shift ;;
    esac
done
[ -f "$deb" ] || { echo "check-package: give the .deb to check (scripts/package.sh prints it)" >&2; exit 2; }

say() { printf 'check-package: %s\n' "$*"; }
failures=0
fail() { echo "check-package: FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d /tmp/tovrin-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
unpacked=$work/root
dpkg-deb -x "$deb" "$unpacked" || { echo "check-package: cannot unpack $deb" >&2; exit 1; }
say "$(basename "$deb"): Depends: $(dpkg-deb --field "$deb" Depends)"

say "lintian"
lintian --fail-on error --display-info "$deb" 2>&1 | grep -v '^running with root privileges' | sed 's/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors"

desktop=$unpacked/usr/share/applications/tovrin.desktop
say "desktop-file-validate"
desktop-file-validate "$desktop" 2>&1 | sed 's/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the desktop entry is not valid"
say "appstreamcli validate"
appstreamcli validate --no-net --pedantic "$unpacked"/usr/share/metainfo/*.metainfo.xml 2>&1 | sed 's/^/  /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the AppStream metadata is not valid"

# Exec and Icon of the desktop entry name files of the package.
entry() { sed -n "s/^$1=//p" "$desktop" | head -1; }
exec_program=$(entry Exec | awk '{print $1}')
case $exec_program in
    /*) exec_path=$exec_program ;;
    *) exec_path=/usr/bin/$exec_program ;;
esac
[ -x "$unpacked$exec_path" ] && [ -f "$unpacked$exec_path" ] ||
    fail "the desktop entry starts '$exec_program', which the package does not hold as $exec_path"
[ "$(entry TryExec)" = "$exec_program" ] || fail "TryExec and Exec of the desktop entry differ"
icon=$(entry Icon)
for size in scalable/apps/$icon.svg 48x48/apps/$icon.png 256x256/apps/$icon.png; do
    [ -f "$unpacked/usr/share/icons/hicolor/$size" ] || fail "the icon $size is not in the package"
done
say "desktop entry: Exec=$(entry Exec) -> $exec_path, Icon=$icon"

program=$unpacked/usr/bin/tovrin
library=$(ldd "$program" | awk '$1 ~ /^libtovrin_gui/ {print $3}')
[ -n "$library" ] && [ -e "$library" ] && library=$(realpath "$library")
case $library in
    "$unpacked"/usr/lib/*) say "tovrin loads its window library from the package: ${library#"$unpacked"}" ;;
    *) fail "tovrin does not find its window library inside the package (found: '${library:-nothing}')" ;;
esac

if [ -f "$unpacked/usr/include/tovrin/TovrinGotoProj.h" ]; then
    exported=$(nm -D --defined-only "$library")
    for function in ShowGotoProjFormModal ShowInputQuery; do
        if grep -qE " T $function$" <<<"$exported"; then
            say "nm -D: $function is exported"
        else
            fail "the window library does not export $function"
        fi
    done
else
    say "nm -D: the exported finder functions are not checked: their header is not in the package yet"
fi

# The command-line program, where the package holds it, starts from there as well.
if [ -x "$unpacked/usr/bin/tovrinctl" ]; then
    if setpriv --reuid=nobody --regid=nogroup --clear-groups "$unpacked/usr/bin/tovrinctl" --help >/dev/null 2>&1; then
        say "tovrinctl --help runs from the package as an ordinary user"
    else
        fail "tovrinctl --help fails from the package"
    fi
    [ -f "$unpacked/usr/share/bash-completion/completions/tovrinctl" ] ||
        fail "the package holds no bash completion for tovrinctl"
    for section in "EXIT STATUS" "CSV (discover"; do
        zcat "$unpacked/usr/share/man/man1/tovrinctl.1.gz" | grep -qF "$section" ||
            fail "the manual page of tovrinctl has no '$section' section"
    done
    say "tovrinctl: bash completion and manual page sections present"
    unit=$unpacked/usr/lib/systemd/system/tovrin-monitor@.service
    alerts=$unpacked/usr/share/tovrin/tovrin-alerts.yml
    [ -f "$unit" ] || fail "the package holds no tovrin-monitor@.service"
    [ -f "$alerts" ] || fail "the package holds no alerting rules"
    [ -f "$unpacked/usr/share/tovrin/alertmanager.yml" ] || fail "the package holds no example Alertmanager configuration"
    grep -qF "ExecStart=/usr/bin/tovrinctl monitor " "$unit" || fail "the unit does not start the packaged tovrinctl"
    say "the monitor's unit and alerting rules from the package"
    bash "$root/scripts/check-monitor.sh" --program "$unpacked/usr/bin/tovrinctl" --unit "$unit" --rules "$alerts" \
        --alertmanager "$unpacked/usr/share/tovrin/alertmanager.yml" ||
        fail "the monitor's unit or rules"
fi
[ "$(dpkg-deb --field "$deb" Recommends)" = "qt6-wayland" ] ||
    fail "the package does not recommend qt6-wayland (native Wayland windows)"

say "the unpacked program as an ordinary user"
bash "$root/scripts/check-user-run.sh" --program "$program" --build "$build" || fail "the unpacked program"

if [ "$install" = 1 ]; then
    export DEBIAN_FRONTEND=noninteractive
    if dpkg-query -W -f='${Status}' tovrin 2>/dev/null | grep -q 'install ok installed'; then
        fail "tovrin is installed already; --install wants a machine without it"
    elif apt-get install -y "$deb" >"$work/apt.log" 2>&1; then
        say "apt-get install: $(dpkg-query -W -f='${Package} ${Version} ${Status}' tovrin)"
        dpkg -L tovrin | while read -r path; do [ -d "$path" ] || echo "$path"; done >"$work/files"
        say "the installed program as an ordinary user"
        bash "$root/scripts/check-user-run.sh" --program /usr/bin/tovrin --build "$build" || fail "the installed program"
        apt-get purge -y tovrin >>"$work/apt.log" 2>&1 || fail "apt-get purge tovrin failed"
        left=$(while read -r path; do [ -e "$path" ] || [ -L "$path" ] && echo "$path"; done <"$work/files")
        if [ -n "$left" ]; then
            fail "files left after removal: $left"
        else
            say "apt-get purge: all $(wc -l <"$work/files") files of the package are gone"
        fi
    else
        cat "$work/apt.log" >&2
        fail "apt-get install $deb failed"
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "check-package: $failures check(s) failed" >&2
    exit 1
fi
say "passed"
