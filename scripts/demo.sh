#!/usr/bin/env bash
# The main job, end to end: installs what is missing and builds; starts the message-daemon
# stand-in on a free port and the TobrelVM launcher; launches the example app examples/apps/lamp
# (the port goes as its instance name); once the app is interactive and its LED command has been
# answered, sends it a button press, and after the answer to the pulse an RFID tag, through the
# stand-in's control input; then shows what the app sent (the stand-in's
# transcript) and what it logged. The app ends by itself, then the launcher and the stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh plain

launcher=$PWD/build/vm/core/tobrelvm
msgd=$PWD/build/peers/msgd/msgd
apps=$PWD/examples/apps
work=$(mktemp -d)
msgd_pid=
vm_pid=
cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  for pid in $vm_pid $msgd_pid; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until file $1 holds the text $2, for at most 20 s.
wait_for() {
  local deadline=$((SECONDS + 20))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    if ((SECONDS >= deadline)); then
      echo "--- gave up waiting for \"$2\"; so far:" >&2
      cat "$work/msgd.out" "$work/app.log" >&2 || true
      exit 1
    fi
    sleep 0.1
  done
}

# The stand-in reads control lines from a fifo that stays open until the end.
mkfifo "$work/msgd.in" "$work/vm.in"
"$msgd" --port 0 <"$work/msgd.in" >"$work/msgd.out" 2>&1 &
msgd_pid=$!
exec 3>"$work/msgd.in"
wait_for "$work/msgd.out" "listening on"
port=$(sed -n 's/^listening on .*:\([0-9][0-9]*\)$/\1/p' "$work/msgd.out")
echo "--- message-daemon stand-in listening on 127.0.0.1:$port"

"$launcher" --debug=7 --app_folder="$apps" <"$work/vm.in" >"$work/app.log" 2>&1 &
vm_pid=$!
exec 4>"$work/vm.in"
echo "--- launch request: lamp PLAIN $port"
echo "lamp PLAIN $port" >&4

# Each event follows the daemon's answer to the command before it, so the transcript keeps
# one order however fast the app runs.
wait_for "$work/app.log" "JSLOG: interactive"
wait_for "$work/app.log" "JSLOG: led.light: "
echo "--- the app is interactive and has lit the LED; pressing the button"
echo "button last SIMPLE" >&3
wait_for "$work/app.log" "JSLOG: button pressed"
wait_for "$work/app.log" "JSLOG: led.pulse: "
echo "--- bringing an RFID tag"
echo "rfid last d0021a IN LAMINA RED" >&3
wait_for "$work/app.log" "JSLOG: bye"
wait_for "$work/msgd.out" "closed by peer"  # the app child has ended: its link is closed

exec 4>&-                                  # end of its input ends the launcher
wait "$vm_pid"
vm_pid=
exec 3>&-                                  # and the stand-in's
wait "$msgd_pid"
msgd_pid=

echo "--- what the app sent and received (the stand-in's transcript)"
cat "$work/msgd.out"
echo "--- what the launcher and the app logged"
cat "$work/app.log"
echo "--- the example app lit the LED, answered a button press and an RFID tag, and ended by itself"
