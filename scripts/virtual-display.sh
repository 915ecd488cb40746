# Sourced by the scripts that show windows without a screen.
# start_virtual_display WIDTHxHEIGHT [Xvfb option…] starts Xvfb on a free display number (Xvfb
# takes the first one it can lock, so programs starting at once never share one), exports
# DISPLAY, leaves the server's process id in virtual_display_pid and returns once the display
# answers (at most 5 s); fails when Xvfb did not start.
start_virtual_display() {
    local size=$1 fifo number=
    shift
    fifo=$(mktemp -u) && mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp "$@" 3>"$fifo" >/dev/null 2>&1 &
    virtual_display_pid=$!
    read -r -t 10 number <"$fifo" || true
    rm -f "$fifo"
    [ -n "$number" ] || { echo "virtual display: Xvfb did not start" >&2; return 1; }
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
