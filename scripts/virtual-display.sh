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

# capture_when_ready FILE CROP COMMAND [ARG…]: starts COMMAND, which prints a line once its window
# is drawn, then saves the screen's CROP area (WxH+X+Y) to FILE and ends the command. The command's
# process goes into the caller's pids too, so that its clean-up ends it should this fail.
capture_when_ready() {
    local file=$1 crop=$2 fifo pid _
    shift 2
    fifo=$(mktemp -u) && mkfifo "$fifo"
    "$@" >"$fifo" &
    pid=$!
    pids+=("$pid")
    read -r -t 20 _ <"$fifo"
    rm -f "$fifo"
    import -window root -crop "$crop" +repage "$file"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "saved $file"
}
