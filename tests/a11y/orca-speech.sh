#!/usr/bin/env bash
# The main window with the real screen reader (Orca): keys typed with xdotool, what Orca says
# checked line by line (tests/a11y/orca_speech.py says what is checked):
#
#   tests/a11y/orca-speech.sh BUILD_DIR [--lang de] [CHECK…]
#
# CHECK names run only those checks (`orca_speech.py [--lang de] --list` lists them). The desktop
# is English (LANG=C.UTF-8) whatever this machine's locale; --lang de makes it German
# (LANG=de_DE.UTF-8, which scripts/setup.sh generates) for the program and Orca alike, and runs the
# checks of the German texts instead. Besides the session of
# a11y-session.sh (display, private D-Bus, accessibility bus) it starts a window manager (openbox),
# speech-dispatcher whose only voice appends each utterance as a line to a file (ALSA's default
# device is the null device: no sound card is needed), Orca with a settings folder of its own, the
# private test network with a dozen simulated amplifiers and the program, and a sample project drive
# for the project finder. HOME is a folder of the
# test's own: nobody's settings are read or changed. Every process is ended by its id.
# Exit status 77 (skipped) without root.
set -euo pipefail
build=$(cd "${1:?usage: orca-speech.sh BUILD_DIR [--lang de] [CHECK…]}" && pwd)
shift
lang=en
[ "${1:-}" = --lang ] && { lang=${2:?--lang needs a language}; shift 2; }
# Only the desktop's locale chooses the language: nothing that would override it.
unset LANGUAGE LC_ALL LC_MESSAGES TOVRIN_LANG
case $lang in
    en) export LANG=C.UTF-8 ;;
    de) export LANG=de_DE.UTF-8 ;;
    *) echo "orca-speech: no checks for the language $lang" >&2; exit 2 ;;
esac
source "$(dirname "$0")/a11y-session.sh"
a11y_session_start orca-speech openbox orca speech-dispatcher unshare
root=$a11y_root

# Python leaves no compiled files in the source tree.
export HOME=$work/home PYTHONDONTWRITEBYTECODE=1
mkdir -p "$HOME" "$work/speechd/modules" "$work/orca"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$HOME/.asoundrc"
spoken=$work/spoken
: >"$spoken"
cat >"$work/speechd/speechd.conf" <<CONF
CommunicationMethod "unix_socket"
AudioOutputMethod "alsa"
AddModule "file" "sd_generic" "file.conf"
DefaultModule file
LanguageDefaultModule "en" "file"
LanguageDefaultModule "de" "file"
CONF
# The module passes the text single-quoted with its quotes escaped, as printf's argument.
cat >"$work/speechd/modules/file.conf" <<CONF
GenericExecuteSynth "printf '%s\\\\n' '\$DATA' >>$spoken"
AddVoice "en" "MALE1" "file"
AddVoice "de" "MALE1" "file"
GenericLanguage "en" "en" "utf-8"
GenericLanguage "de" "de" "utf-8"
CONF

# Orca's settings: no key echo (it would speak every key typed between the lines checked).
cat >"$work/orca/user-settings.conf" <<CONF
{"general": {}, "pronunciations": {}, "keybindings": {},
 "profiles": {"default": {"profile": ["Default", "default"], "enableKeyEcho": false,
                          "enableEchoByCharacter": false, "enableEchoByWord": false}}}
CONF

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
speech-dispatcher --run-single --timeout 0 --config-dir "$work/speechd" --socket-path "$work/speechd.sock" \
    --log-dir "$work" >"$work/speechd.out" 2>&1 &
pids+=($!)
export SPEECHD_ADDRESS=unix_socket:$work/speechd.sock
for _ in $(seq 50); do [ -S "$work/speechd.sock" ] && break; sleep 0.1; done
# Orca will not start while another Orca of this user runs (a test run beside this one, or someone's
# own): in a process namespace of its own it sees none. Ending unshare ends it.
unshare --pid --fork --kill-child --mount-proc orca --user-prefs "$work/orca" >"$work/orca.log" 2>&1 &
pids+=($!)

network=tvo$$
names=Stage-Left,Stage-Right,FOH-Rack-1,FOH-Rack-2,Monitor-World,Sub-Array-L,Sub-Array-R,Delay-Tower-1
names+=,Delay-Tower-2,Front-Fill,Balcony-L,Balcony-R
# Addresses for the dozen, a newcomer (198.18.1.13) and a burst of twenty that come and go.
bash "$root/scripts/testnet.sh" up "$network" 33 >/dev/null
"$build/sampledrive" "$work/p" --count 200 >/dev/null
status=0
"$python" "$root/tests/a11y/orca_speech.py" --build "$build" --testnet "$root/scripts/testnet.sh" \
    --network "$network" --names "$names" --spoken "$spoken" --work "$work" --drive "$work/p" --lang "$lang" "$@" || status=1
[ $status -eq 0 ] || tail -n 30 "$work/orca.log" "$work/tovrin.log" 2>/dev/null | sed 's/^/  | /'
exit $status
