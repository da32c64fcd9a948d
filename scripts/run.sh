#!/usr/bin/env bash
# The log sender's main job on a sample of the client's logs: installs what is missing, builds
# the program, puts a small realistic set of logs into a temporary application-data folder,
# points the desktop into the same temporary folder and runs the program (on a virtual display
# when there is none). A stand-in xdg-open records the support form and the folder the program
# asks the desktop to open. Prints where the archive landed, its listing and the two requests.
# SY_BUILD_DIR chooses the build folder; extra arguments go to CMake.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${SY_BUILD_DIR:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DSY_WERROR=ON "$@" >/dev/null
cmake --build "$build" --target sendLogFiles
program=$build/src/sendLogFiles/sendLogFiles

run=$(mktemp -d /tmp/syncarium-sendlogs.XXXXXX)
home=$run/home
data=$home/.local/share
desktop=$home/Desktop
mkdir -p "$home/.config" "$data" "$desktop" "$run/bin" "$run/work" "$run/runtime"
chmod 700 "$run/runtime"
echo 'XDG_DESKTOP_DIR="$HOME/Desktop"' >"$home/.config/user-dirs.dirs"

# The client's logs as a support case finds them: the database server's error log, the
# current log folder and the folder of backed-up logs from the last days.
app=$data/Syncarium
mkdir -p "$app/mysql/data" "$app/logs" "$app/logs_backup"
day() { date -d "$1 days ago" +%F; }
cat >"$app/mysql/data/Syncarium2DataBase.err" <<ERR
$(day 2) 08:14:55 0 [Note] InnoDB: Using Linux native AIO
$(day 2) 08:14:55 0 [Note] InnoDB: Completed initialization of buffer pool
$(day 2) 08:14:56 0 [Note] mysqld: ready for connections.
$(day 1) 17:42:10 0 [Warning] Aborted connection 31 to db: 'syncarium2' (Got an error reading communication packets)
$(day 0) 09:03:12 0 [ERROR] InnoDB: Database page corruption on disk or a failed file read of page [page id: space=27, page number=311]
$(day 0) 09:03:12 0 [Note] InnoDB: Starting crash recovery from checkpoint LSN=1907255
$(day 0) 09:03:14 0 [Note] mysqld: ready for connections.
ERR
write_log() {
    local file=$1 date=$2
    cat >"$file" <<LOG
[ -1 : MainThread ] [ CSyncEngine.cpp : 212 : CSyncEngine::start ] $date 08:15:02 starting space "Projekte"
[ 3 : CScannerThread ] [ CDirIterator.cpp : 148 : CDirIterator::dirIterate ] $date 08:15:03 scanned 1824 entries
[ 4 : CUploadThread ] [ CTransfer.cpp : 377 : CTransfer::upload ] $date 08:16:40 Angebot_Müller.pdf uploaded (482133 bytes)
[ 4 : CUploadThread ] [ CTransfer.cpp : 391 : CTransfer::upload ] $date 08:16:41 retrying Bericht Q3.xlsx: connection reset by peer
[ -1 : MainThread ] [ CSyncEngine.cpp : 260 : CSyncEngine::finish ] $date 08:17:05 space "Projekte" in sync
LOG
}
write_log "$app/logs/Syncarium.log" "$(day 0)"
for days in 3 2 1; do
    write_log "$app/logs_backup/Syncarium_$(day "$days")_08.15.02.log" "$(day "$days")"
done

cat >"$run/bin/xdg-open" <<STANDIN
#!/bin/sh
printf '%s\t%s\n' "\$\$" "\$*" >>"$run/requests"
STANDIN
chmod +x "$run/bin/xdg-open"

launch=(env -u DBUS_SESSION_BUS_ADDRESS HOME="$home" XDG_CONFIG_HOME="$home/.config"
        XDG_DATA_HOME="$data" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$run/runtime"
        PATH="$run/bin:$PATH" QT_QPA_PLATFORM=xcb "$program")
# A display that cannot be opened is as good as none: the program would only say so.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    launch=(xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "${launch[@]}")
else
    # The X cookie stays where the real home keeps it: the program gets a home of its own.
    launch=(env XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" "${launch[@]}")
fi
(cd "$run/work" && "${launch[@]}")

# The desktop starts its helpers detached: wait for both to have recorded their request.
for _ in $(seq 50); do
    [ -f "$run/requests" ] && [ "$(wc -l <"$run/requests")" -ge 2 ] && break
    sleep 0.1
done

echo
echo "== archive"
archives=("$desktop"/logs_*.zip)
echo "${archives[0]}"
echo
echo "== listing"
unzip -l "${archives[0]}"
echo
echo "== requests to the desktop, in the order made"
sort -n "$run/requests" | cut -f2-
echo
echo "(everything of this run stays in $run)"
