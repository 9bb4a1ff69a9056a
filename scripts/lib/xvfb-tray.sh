# Sourced by scripts/screenshots and bench/gui-footprint.sh: a private X
# display (Xvfb) with a real XEmbed tray host (trayer), and helpers to start the
# tray application in folders of its own and to wait for its tray icon.
# Every process started here is ended by xvfb_tray_stop (by its id).

XVFB_TRAY_PIDS=()

# Starts Xvfb on the first free display from :90 on, an optional window
# manager (openbox, when installed) and trayer at the top right. Exports DISPLAY.
xvfb_tray_start() {
    local size=${1:-800x600} number=90
    while [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
    XVFB_TRAY_PIDS+=($!)
    export DISPLAY=":$number"
    local tries=0
    until xdpyinfo >/dev/null 2>&1; do
        tries=$((tries + 1))
        ((tries < 100)) || { echo "Xvfb did not start" >&2; return 1; }
        sleep 0.05
    done
    if [[ ${XVFB_TRAY_WM:-1} == 1 ]] && command -v openbox >/dev/null; then
        openbox --sm-disable >/dev/null 2>&1 &
        XVFB_TRAY_PIDS+=($!)
        sleep 0.5
    fi
    trayer --edge top --align right --widthtype request --height 28 --SetDockType true \
        --SetPartialStrut true --transparent false >/dev/null 2>&1 &
    XVFB_TRAY_PIDS+=($!)
    tries=0
    until [[ $(xwininfo -root -tree 2>/dev/null) == *'("panel" "trayer")'* ]]; do
        tries=$((tries + 1))
        ((tries < 100)) || { echo "trayer did not start" >&2; return 1; }
        sleep 0.05
    done
}

xvfb_tray_stop() {
    local index
    for ((index = ${#XVFB_TRAY_PIDS[@]} - 1; index >= 0; index--)); do
        kill "${XVFB_TRAY_PIDS[index]}" 2>/dev/null || true
    done
    for index in "${XVFB_TRAY_PIDS[@]}"; do wait "$index" 2>/dev/null || true; done
    XVFB_TRAY_PIDS=()
}

# The window id of the tray icon of program NAME embedded in trayer, if any.
tray_icon_window() {
    local name=$1
    xwininfo -root -tree 2>/dev/null | awk -v name="$name" '
        /\("panel" "trayer"\)/ { inPanel = 1; depth = index($0, "0x"); next }
        inPanel && /0x/ {
            if (index($0, "0x") <= depth) { inPanel = 0; next }
            if (!found && index($0, "(\"" name "\"")) { print $1; found = 1 }
        }'
}

# True when the icon of NAME is embedded and mapped.
tray_icon_shown() {
    local window
    window=$(tray_icon_window "$1")
    [[ -n "$window" && $(xwininfo -id "$window" 2>/dev/null) == *IsViewable* ]]
}

# Writes a server configuration (simulated dial-up service) for the program
# NAME into the configuration home HOME, listening on PORT.
write_server_config() {
    local home=$1 name=$2 port=$3 folder="$1/Fennel Brookworks/Linkmoot"
    mkdir -p "$folder"
    printf '%s\r\n' '<Configured>1</>' '<Mode>server</>' "<Port>$port</>" '<Server>' \
        $'\t<Connection>Simulated modem</>' $'\t<Dialer>simulated</>' $'\t<GuardTime>3000</>' \
        '</Server>' >"$folder/$name.cfg"
}
