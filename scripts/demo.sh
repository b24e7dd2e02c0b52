#!/usr/bin/env bash
# The main job, end to end: installs what is missing, builds, then starts the TobrelVM launcher
# and sends it one launch request for the example app under examples/apps/. The app logs, ticks
# on a repeating timer and ends by itself; then an empty line ends the launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh plain

launcher=build/vm/core/tobrelvm
apps=$PWD/examples/apps
echo "--- $launcher --app_folder=$apps, request: ticker PLAIN demo"
coproc VM { exec "$launcher" --debug=5 --app_folder="$apps" 2>&1; }
vm_pid=$VM_PID
vm_out=${VM[0]}
vm_in=${VM[1]}
echo "ticker PLAIN demo" >&"$vm_in"
ended=0
while IFS= read -r -t 30 line <&"$vm_out"; do
  echo "$line"
  if [[ $line == *"JSLOG: done after"* ]]; then ended=1; break; fi
done
echo >&"$vm_in"      # an empty line ends the launcher
cat <&"$vm_out" || true
wait "$vm_pid" || true
if [ $ended -eq 1 ]; then echo "--- the example app ran and ended by itself"; else echo "--- the example app did not finish" >&2; exit 1; fi
