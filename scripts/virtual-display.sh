# Sourced by the scripts that show windows without a screen.
# start_virtual_display WIDTHxHEIGHT [Xvfb option…] starts Xvfb on the first free display number
# from :99, exports DISPLAY, leaves the server's process id in virtual_display_pid and returns once
# the display answers (at most 5 s).
start_virtual_display() {
    local size=$1 number=99
    shift
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
    Xvfb ":$number" -screen 0 "${size}x24" -nolisten tcp "$@" >/dev/null 2>&1 &
    virtual_display_pid=$!
    export DISPLAY=:$number
    unset XAUTHORITY
    local _
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 0
}
