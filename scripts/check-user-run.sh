#!/usr/bin/env bash
# Runs the real program as an ordinary user (no root, no capabilities) inside the private test
# network and checks what a user would see and what leaves the machine's side of it:
#
#   scripts/check-user-run.sh [--program PATH] [--build DIR] [--count N] [--mode bound|refused|both]
#
# The app side has two networks: the amplifiers' (tvapp, 198.18.0.1) and another one (tvoth,
# 198.19.0.1) through which broadcasts not tied to an interface would leave, and on which a foreign
# amplifier announces itself. The program (default: DIR/tovrin; give the installed or unpacked
# one) runs under Xvfb as the system user "tovrin-check" (made when missing); the interface
# dialog is answered with 198.18.0.1. Half of the N simulated amplifiers (default 8) answer by
# broadcast, half by unicast. Passes when the list holds exactly the N amplifiers (read row by
# row through "Copy IP-Address"), hellos left through tvapp and nothing through tvoth.
# Mode "bound": the socket is tied to tvapp (SO_BINDTODEVICE, allowed to users since Linux 5.7);
# "refused": SO_BINDTODEVICE is refused as on older kernels (DIR/tests/without_bindtodevice), so
# the worker's own fallback must keep hello and replies on tvapp.
#
# In the first mode run, the rest of what a user does, as the same user:
# - the command menu: the program's folder is not the user's to write, so the menu file lives in
#   $XDG_CONFIG_HOME/tovrin/. A menu file seeded there must give the context menu its item, whose
#   command line gets the row's address (a console program: it runs in $TERMINAL, here a stand-in
#   that records what it was asked to run); "Configure this Menu..." must open that file (its
#   path is the editor's title) and save the edited text there, nothing beside the program.
# - settings and upload through tovrinctl (beside the program): set-ip must see the amplifier come
#   back with the new address, and a file uploaded to its command port must reach the simulator
#   byte for byte.
# - the finder: the window library the program loads, called through its exported function as
#   another program does (DIR/tests/call_finder), must find a project on a sample drive that the
#   user may read but not write (TOVRIN_PROJECT_DRIVE, DIR/sampledrive).
# Needs root (namespaces, the user).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
program=
count=8
modes=(bound refused)
user=tovrin-check
while [ $# -gt 0 ]; do
    case $1 in
        --program) program=$2; shift 2 ;;
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --count) count=$2; shift 2 ;;
        --mode) [ "$2" = both ] && modes=(bound refused) || modes=("$2"); shift 2 ;;
        -h|--help) sed -n '2,30s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "check-user-run: unknown option $1" >&2; exit 2 ;;
    esac
done
program=${program:-$build/tovrin}
[[ $count =~ ^[0-9]+$ ]] && [ "$count" -ge 2 ] && [ "$count" -le 200 ] || { echo "check-user-run: --count 2..200" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "check-user-run: needs root (network namespaces, a system user)" >&2; exit 77; }
ctl=$(dirname "$program")/tovrinctl
for needed in "$program" "$ctl" "$build/ampsim" "$build/sampledrive" "$build/tests/without_bindtodevice" \
    "$build/tests/call_finder"; do
    [ -x "$needed" ] || { echo "check-user-run: $needed is missing; build first" >&2; exit 1; }
done
for tool in Xvfb xdotool xclip tcpdump socat setpriv ss; do
    command -v "$tool" >/dev/null || { echo "check-user-run: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

testnet() { bash "$root/scripts/testnet.sh" "$@"; }
# A plain command, not a function: started with &, $! is then the program itself.
in_net=(bash "$root/scripts/testnet.sh" exec)
say() { echo "check-user-run: $*"; }
failures=0
fail() { echo "check-user-run: FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d /tmp/tovrin-user-run.XXXXXX)
chmod 755 "$work"
pids=()
network=
made_user=0
stop_all() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    pids=()
    [ -n "$network" ] && testnet down "$network"
    network=
}
cleanup() {
    stop_all
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    [ "$made_user" = 1 ] && userdel "$user" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
        { echo "check-user-run: cannot make the user $user" >&2; exit 1; }
    made_user=1
fi

# The terminal the menu's console programs run in: a stand-in that records what it was asked to run.
printf '%s\n' '#!/bin/sh' \
    'printf "%s\n" "$@" >"$HOME/terminal.log.new" && mv "$HOME/terminal.log.new" "$HOME/terminal.log"' \
    >"$work/terminal"
chmod 755 "$work/terminal"
# A project drive the user may read but not write.
"$build/sampledrive" "$work/drive" --count 50 || { echo "check-user-run: cannot make the sample drive" >&2; exit 1; }
as_user=()

# One virtual display for all runs; any local client may use it (the user and this script).
source "$root/scripts/virtual-display.sh"
start_virtual_display 1024x768 -ac
xvfb_pid=$virtual_display_pid

# Prints the IP addresses of the main window's rows, top to bottom, read through Ctrl+I.
read_rows() {
    local window=$1 previous= ip i wait
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers Home
    for ((i = 0; i < count + 5; i++)); do
        printf '' | xclip -selection clipboard
        xdotool key --clearmodifiers ctrl+i
        ip=
        for ((wait = 0; wait < 30 && ${#ip} == 0; wait++)); do
            sleep 0.1
            ip=$(xclip -o -selection clipboard 2>/dev/null)
        done
        [ -z "$ip" ] || [ "$ip" = "$previous" ] && break
        echo "$ip"
        previous=$ip
        xdotool key --clearmodifiers Down
    done
}

# Ends the processes given and forgets them.
stop_pids() {
    local pid i
    for pid in "$@"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        for i in "${!pids[@]}"; do [ "${pids[i]}" = "$pid" ] && unset 'pids[i]'; done
    done
    pids=("${pids[@]}")
}

# Waits up to 10 s for a window whose title matches the pattern; prints its id.
find_window() { timeout 10 xdotool search --sync --name "$1" 2>/dev/null | head -1; }

# Opens the list's context menu from the keyboard; false when it did not show within 5 s. The menu
# is one more visible window of the program.
visible_windows() { xdotool search --onlyvisible --class '^tovrin$' 2>/dev/null | wc -l; }
open_menu() {
    local window=$1 before i
    before=$(visible_windows)
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers Menu
    for ((i = 0; i < 50; i++)); do
        [ "$(visible_windows)" -gt "$before" ] && return 0
        sleep 0.1
    done
    return 1
}

# Sets the clipboard and waits until it holds the text.
set_clipboard() {
    local i
    printf '%s' "$1" | xclip -selection clipboard 2>/dev/null
    for ((i = 0; i < 20; i++)); do
        [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ] && return
        sleep 0.1
    done
}

# The menu file seeded in the user's configuration folder; its item runs a console program.
seed_menu='# Seeded by check-user-run'$'\r\n''Echo the address|/bin/echo <IP>'$'\r\n'

# The command menu of the running window: the seeded item runs with the first row's address, and
# "Configure this Menu..." edits the file in the configuration folder.
check_menu() {
    local window=$1 home=$2 file=$2/config/tovrin/Tovrin_Cmds.txt ip= i record editor info
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers Home
    printf '' | xclip -selection clipboard
    xdotool key --clearmodifiers ctrl+i
    for ((i = 0; i < 30 && ${#ip} == 0; i++)); do
        sleep 0.1
        ip=$(xclip -o -selection clipboard 2>/dev/null)
    done
    # The user items come before the last three ("Save List As...", "Find...", "Find Next"): Up from
    # the menu's first item wraps to "Find Next", two more reach "Save List As...", and the next Up
    # (past the separator) the seeded item.
    open_menu "$window" || fail "menu: the context menu did not open"
    xdotool key --clearmodifiers Up Up Up Up Return
    for ((i = 0; i < 50; i++)); do
        [ -s "$home/terminal.log" ] && break
        sleep 0.1
    done
    record=$(tail -n 2 "$home/terminal.log" 2>/dev/null | tr '\n' ' ')
    if [ -n "$ip" ] && [ "$record" = "/bin/echo $ip " ]; then
        say "menu: the item read from \$XDG_CONFIG_HOME/tovrin/Tovrin_Cmds.txt ran '/bin/echo $ip' for the row $ip (through \$TERMINAL)"
    else
        fail "menu: the seeded item should have run '/bin/echo $ip' through \$TERMINAL; it ran '${record:-nothing}'"
    fi

    # "Configure this Menu..." is the third item, after "IP-Settings..." and "Upload File...": the
    # menu opens on its first item, so two Downs reach it.
    open_menu "$window" || fail "menu: the context menu did not open again"
    xdotool key --clearmodifiers Down Down Return
    editor=$(find_window "^${file//./\\.}\$")
    if [ -z "$editor" ]; then
        fail "menu: \"Configure this Menu...\" did not open $file"
        return
    fi
    set_clipboard "$seed_menu"'Written by the window|/bin/true <IP>'$'\r\n'
    xdotool windowfocus --sync "$editor" 2>/dev/null
    # Paste over (Ctrl+P) replaces the text, Alt+O is OK; the program then asks for a restart.
    xdotool key --clearmodifiers ctrl+p alt+o
    info=$(find_window '^Information$')
    [ -n "$info" ] && xdotool windowfocus --sync "$info" 2>/dev/null && xdotool key --clearmodifiers Return
    if grep -q '^Written by the window|/bin/true <IP>' "$file" 2>/dev/null &&
        [ "$(stat -c %U "$file")" = "$user" ]; then
        say "menu: \"Configure this Menu...\" opened and saved \$XDG_CONFIG_HOME/tovrin/Tovrin_Cmds.txt (owned by $user)"
    else
        fail "menu: the edited menu was not saved to $file"
    fi
    [ -e "$(dirname "$program")/Tovrin_Cmds.txt" ] && fail "menu: a menu file was written beside the program"
    [ -e "$home/.config" ] && fail "menu: ~/.config was used although XDG_CONFIG_HOME is set"
}

# Settings and upload through tovrinctl, as the user in the amplifiers' network.
check_ctl() {
    local capture=$1 output status stored
    output=$("${in_net[@]}" "$network" app "${as_user[@]}" "$ctl" set-ip 0050C2A10002 --ip 198.18.1.102 \
        --netmask 255.255.0.0 --gateway 0.0.0.0 --interface 198.18.0.1 --timeout 10 2>&1)
    status=$?
    if [ "$status" -eq 0 ] && grep -q '0050C2A10002 applies' "$capture/ampsim.log" &&
        grep -q '0050C2A10002 is back: 0050C2A10002 . 198\.18\.1\.102 255\.255\.0\.0 0\.0\.0\.0 ' "$capture/ampsim.log"; then
        say "settings: tovrinctl set-ip: $(tail -n 1 <<<"$output")"
    else
        fail "settings: tovrinctl set-ip ended with $status: $output"
    fi

    head -c 300000 /dev/urandom >"$work/firmware.bin"
    chmod 644 "$work/firmware.bin"
    output=$("${in_net[@]}" "$network" app "${as_user[@]}" "$ctl" upload 198.18.1.1 "$work/firmware.bin" 2>&1)
    status=$?
    stored=$(find "$capture/uploads" -type f 2>/dev/null)
    if [ "$status" -eq 0 ] && [ "$(wc -l <<<"$stored")" -eq 1 ] && cmp -s "$work/firmware.bin" "$stored"; then
        say "upload: tovrinctl upload: $(tail -n 1 <<<"$output")"
        say "upload: the simulator stored the same 300000 bytes as ${stored#"$capture"/}"
    else
        fail "upload: tovrinctl upload ended with $status, stored '${stored:-nothing}': $output"
    fi
}

# The finder through the exported function of the window library the program loads.
check_finder() {
    local library output expected
    library=$(ldd "$program" | awk '$1 ~ /^libtovrin_gui/ {print $3}')
    expected="1412345QTRX"$'\n'"$work/drive/Produktion/2014/1412345QTRX/"
    output=$("${as_user[@]}" "$build/tests/call_finder" "$library" 1412345 2>&1)
    if [ "$output" = "$expected" ]; then
        say "finder: ShowGotoProjFormModal of $library found ${output//$'\n'/ in }"
    else
        fail "finder: ShowGotoProjFormModal of '${library:-no library}' gave '$output', not '$expected'"
    fi
}

run_mode() {
    local mode=$1 n=$2 half=$((count / 2))
    network=tvn$$x$n
    testnet up "$network" "$count" >/dev/null && testnet other "$network" >/dev/null ||
        { fail "$mode: the private network could not be made"; network=; return; }

    local capture=$work/$mode
    mkdir -p "$capture"
    "${in_net[@]}" "$network" app tcpdump -Z root -n -U -i tvapp -w "$capture/tvapp.pcap" udp port 8001 2>/dev/null &
    local captures=($!)
    "${in_net[@]}" "$network" app tcpdump -Z root -n -U -i tvoth -w "$capture/tvoth.pcap" udp port 8001 2>/dev/null &
    captures+=($!)
    pids+=("${captures[@]}")
    "${in_net[@]}" "$network" amp "$build/ampsim" --count "$half" --names Broadcast-Amp --reboot 300 \
        --upload-folder "$capture/uploads" >>"$capture/ampsim.log" 2>&1 &
    pids+=($!)
    "${in_net[@]}" "$network" amp "$build/ampsim" --count $((count - half)) --first-ip "198.18.1.$((half + 1))" \
        --mac-base 0050C2A20001 --names Unicast-Amp --unicast --quiet --no-command >>"$capture/ampsim.log" 2>&1 &
    pids+=($!)
    # An amplifier of the other network announces itself there; it must never be listed.
    "${in_net[@]}" "$network" oth bash -c 'while :; do
        printf "0050C2FFFF01 0 198.19.0.2 255.255.0.0 0.0.0.0 Foreign-Amp" |
            socat -u - UDP-DATAGRAM:255.255.255.255:8001,broadcast,bind=198.19.0.2:8001,reuseaddr
        sleep 0.2; done' &
    pids+=($!)

    local home=$work/home-$mode
    mkdir -p "$home/run" "$home/config/tovrin" && chmod 700 "$home/run"
    printf '%s' "$seed_menu" >"$home/config/tovrin/Tovrin_Cmds.txt"
    chown -R "$user:" "$home"
    as_user=(env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config"
        TERMINAL="$work/terminal" TOVRIN_PROJECT_DRIVE="$work/drive" DISPLAY="$DISPLAY" PATH=/usr/bin:/bin
        QT_QPA_PLATFORM=xcb LANG=C.UTF-8
        setpriv --reuid="$user" --regid="$user" --init-groups --inh-caps=-all --no-new-privs --)
    local wrapper=()
    [ "$mode" = refused ] && wrapper=("$build/tests/without_bindtodevice")
    "${in_net[@]}" "$network" app "${as_user[@]}" "${wrapper[@]}" "$program" >"$capture/program.log" 2>&1 &
    local tovrin_pid=$!
    pids+=("$tovrin_pid")

    local dialog
    dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' 2>/dev/null | head -1)
    if [ -z "$dialog" ]; then
        fail "$mode: the interface dialog did not open"; cat "$capture/program.log" >&2; stop_all; return
    fi
    local status
    status=$(cat "/proc/$tovrin_pid/status")
    local uid
    uid=$(id -u "$user")
    grep -qE "^Uid:\s+$uid\s+$uid\s+$uid\s+$uid$" <<<"$status" || fail "$mode: the program does not run as $user"
    grep -qE '^CapEff:\s+0+$' <<<"$status" && grep -qE '^CapPrm:\s+0+$' <<<"$status" ||
        fail "$mode: the program holds capabilities"
    say "$mode: $(basename "$(readlink "/proc/$tovrin_pid/exe")") runs as $user (uid $uid), no capabilities"

    # The combo box jumps to the entry whose text is typed.
    sleep 0.5
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool type --delay 50 198.18.0.1
    xdotool key Return
    local window
    window=$(timeout 10 xdotool search --sync --name '^Select Amplifier$' 2>/dev/null | head -1)
    [ -n "$window" ] || { fail "$mode: the main window did not show"; stop_all; return; }
    sleep 2

    local sockets
    sockets=$(testnet exec "$network" app ss -Huan 'sport = :8001')
    say "$mode: discovery socket: $(awk '{print $4}' <<<"$sockets" | tr '\n' ' ')"
    if [ "$mode" = bound ]; then
        grep -q '%tvapp:8001' <<<"$sockets" || fail "bound: the socket is not tied to tvapp"
    else
        grep -q '%' <<<"$sockets" && fail "refused: the socket is tied to a device although that was refused"
    fi

    # A loaded machine may need a few rounds of hellos until every amplifier is listed.
    local rows expected attempt
    expected=$(for ((i = 1; i <= count; i++)); do echo "198.18.1.$i"; done)
    for attempt in 1 2 3; do
        rows=$(read_rows "$window" | sort -V)
        [ "$rows" = "$expected" ] && break
        sleep 2
    done
    say "$mode: list rows: $(tr '\n' ' ' <<<"$rows")"
    [ "$rows" = "$expected" ] || fail "$mode: the list should hold 198.18.1.1 to 198.18.1.$count, no more"

    if [ "$n" = 0 ]; then
        check_menu "$window" "$home"
        # The window and the captures end first: tovrinctl's datagrams are not the window's.
        stop_pids "$tovrin_pid" "${captures[@]}"
        check_ctl "$capture"
        check_finder
    fi
    stop_all
    local hellos broadcasts unicasts leaked foreign
    hellos=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -c '198\.18\.0\.1\.8001 > 255\.255\.255\.255\.8001')
    broadcasts=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -cE '198\.18\.1\.[0-9]+\.8001 > 255\.255\.255\.255\.8001')
    unicasts=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -cE '198\.18\.1\.[0-9]+\.8001 > 198\.18\.0\.1\.8001')
    leaked=$(tcpdump -n -r "$capture/tvoth.pcap" 2>/dev/null | grep -vc '198\.19\.0\.2\.8001 >')
    foreign=$(tcpdump -n -r "$capture/tvoth.pcap" 2>/dev/null | grep -c '198\.19\.0\.2\.8001 >')
    say "$mode: tvapp: $hellos hellos out, $broadcasts broadcast and $unicasts unicast replies in;" \
        "tvoth: $leaked datagrams out, $foreign foreign replies in"
    [ "$hellos" -ge 2 ] || fail "$mode: no hellos left through tvapp"
    [ "$broadcasts" -ge 1 ] && [ "$unicasts" -ge 1 ] || fail "$mode: replies of both kinds should have come"
    [ "$leaked" -eq 0 ] || fail "$mode: $leaked datagrams left through tvoth, the interface not chosen"
    [ "$foreign" -ge 1 ] || fail "$mode: the foreign amplifier was not heard on tvoth"
}

n=0
for mode in "${modes[@]}"; do
    run_mode "$mode" "$n"
    n=$((n + 1))
done
if [ "$failures" -gt 0 ]; then
    echo "check-user-run: $failures check(s) failed" >&2
    exit 1
fi
say "passed (${modes[*]})"
