# Wine and display helpers shared by scripts/run.sh and scripts/test.sh (sourced).

# tally_windows_path PATH: the path as a Windows program under Wine sees it (drive Z: is /).
tally_windows_path() {
    local abs
    abs=$(realpath -m -- "$1")
    printf 'Z:%s\n' "${abs//\//\\}"
}

# tally_ini_volumes INI: "SERVER<TAB>absolute folder" for each key of the ini's [Volumes]
# section. Values may be Windows or Linux paths, absolute (Z:\... or /...) or relative to the ini.
tally_ini_volumes() {
    local ini=$1 dir
    dir=$(cd "$(dirname "$ini")" && pwd)
    tr -d '\r' <"$ini" | awk -v dir="$dir" '
        /^[ \t]*\[/ { section = $0; gsub(/[][ \t]/, "", section); next }
        section == "Volumes" && /=/ {
            key = $0; sub(/=.*/, "", key); gsub(/[ \t]/, "", key)
            value = $0; sub(/^[^=]*=/, "", value); sub(/[ \t]*;.*$/, "", value)
            gsub(/^[ \t]+|[ \t]+$/, "", value)
            if (key == "" || value == "") next
            sub(/^[Zz]:/, "", value); gsub(/\\/, "/", value)
            if (substr(value, 1, 1) != "/") value = dir "/" value
            print key "\t" value
        }'
}

# tally_link_servers PREFIX INI: dosdevices/unc/<SERVER> -> that server's folder (the one that
# holds SYS), so that \\SERVER\SYS\... reaches it. Links of other servers are removed.
tally_link_servers() {
    local prefix=$1 ini=$2 unc server folder
    unc="$prefix/dosdevices/unc"
    rm -rf -- "$unc"
    mkdir -p "$unc"
    while IFS=$'\t' read -r server folder; do
        if [[ ! -d "$folder/SYS" ]]; then
            echo "warning: $ini: [Volumes] $server=$folder holds no SYS folder" >&2
        fi
        ln -sfn "$(realpath -m -- "$folder")" "$unc/$server"
    done < <(tally_ini_volumes "$ini")
}

# tally_start_xvfb: starts an Xvfb on a free display; sets TALLY_XVFB_PID and exports DISPLAY.
tally_start_xvfb() {
    local fifo number
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/tally-xvfb.XXXXXX")
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    TALLY_XVFB_PID=$!
    if ! read -r -t 15 number <"$fifo"; then
        rm -f "$fifo"
        kill "$TALLY_XVFB_PID" 2>/dev/null || true
        echo "error: Xvfb did not start" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$number"
}

tally_stop_xvfb() {
    if [[ -n "${TALLY_XVFB_PID:-}" ]]; then
        kill "$TALLY_XVFB_PID" 2>/dev/null || true
        wait "$TALLY_XVFB_PID" 2>/dev/null || true
        TALLY_XVFB_PID=
    fi
}

# tally_stop_wine PREFIX: ends every Wine process of that prefix (and only of that one).
tally_stop_wine() {
    if [[ -d "$1" ]]; then
        WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
    fi
}
