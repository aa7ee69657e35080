# Helpers for scripts run under with_tray_host, to find and click a program's
# tray icon; source this file.

# Prints "ID WIDTH HEIGHT" of the icon that the program NAME (its executable's
# name, the instance part of WM_CLASS) docked in the panel, once it is there;
# fails after SECONDS (default 10).
tray_icon_window() {
    local name=$1 seconds=${2:-10} line
    for _ in $(seq $((seconds * 10))); do
        line=$(xwininfo -tree -id "$TRAY_HOST_PANEL" | grep -F "(\"$name\" " | head -n 1) || true
        if [ -n "$line" ]; then
            # 0x400006 "name": ("name" "Class")  22x30+0+0  +777+1
            awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^[0-9]+x[0-9]+\+/) { split($i, size, /[x+]/); print $1, size[1], size[2]; exit } }' <<<"$line"
            return 0
        fi
        sleep 0.1
    done
    echo "tray_icon_window: no icon of $name in the tray" >&2
    return 1
}

# Clicks the middle of the tray icon of NAME with mouse BUTTON (1 left, 3 right).
click_tray_icon() {
    local name=$1 button=$2 id width height
    read -r id width height < <(tray_icon_window "$name") || return 1
    xdotool mousemove --window "$id" $((width / 2)) $((height / 2)) click "$button"
}

# Waits until FILE has a line that is exactly TEXT; fails after SECONDS (default 5).
wait_for_line() {
    local file=$1 text=$2 seconds=${3:-5}
    for _ in $(seq $((seconds * 10))); do
        grep -qxF -- "$text" "$file" && return 0
        sleep 0.1
    done
    echo "wait_for_line: no line \"$text\" in $file:" >&2
    cat "$file" >&2
    return 1
}
