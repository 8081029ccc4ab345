#!/usr/bin/env bash
# Sets up the machine, builds the program and starts it on a simulated module.
#
#   ./scripts/demo.sh               a module holding the demo computer's reference
#                                   data, the administrator SUPERVISOR and the user
#                                   IVAN: the logon form
#   ./scripts/demo.sh --first-start a new module: the first start, with the chief
#                                   administrator's set-up
#   ./scripts/demo.sh --keep        the module of the previous run, as it was left
#   ./scripts/demo.sh --screenshot  no window: run under Xvfb, log SUPERVISOR on,
#                                   save run/screenshot.png of the report and stop
#
# With DISPLAY set the program opens on that display (xcb). Without one it runs
# on Qt's VNC platform: connect a VNC viewer to localhost:5900
# (ORVA_DEMO_VNC_PORT chooses another port).
#
# Everything the run needs is in ./run: the module (run/module), the simulated
# computer the program checks (run/computer, built from
# scripts/demo-computer.txt), the hand-off helpers, orvainfo.txt and the
# program; the helpers write run/handoff.log. Present an identifier from
# another shell:
#   ORVA_SIM_DIR=run/module build/platform/orva-sim touch --user SUPERVISOR
# (or --user IVAN); both passwords are "secret".
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
screenshot=0
first_start=0
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    --screenshot) screenshot=1 ;;
    --first-start) first_start=1 ;;
    -h|--help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown argument $arg (see --help)" >&2; exit 2 ;;
  esac
done

./scripts/setup.sh
cmake -S . -B build -G Ninja -DORVA_WERROR=ON
cmake --build build --target orva-ng-gui orva-sim simcomputer-bin orva-ic

run="$PWD/run"
sim="$PWD/build/platform/orva-sim"
export ORVA_SIM_DIR="$run/module"
mkdir -p "$run"
# The computer the boot-time check looks at, instead of this machine. As root
# its file-system volumes get loop devices, so that the check can mount them
# (the registry of its Windows volume); they are released when the run ends.
simcomputer="$PWD/build/tools/simcomputer/simcomputer"
[ -d "$run/computer" ] && "$simcomputer" --detach "$run/computer" >/dev/null 2>&1 || true
rm -rf "$run/computer"
loops=()
# DATA (sdb2) takes writes: it can be chosen as the export/import directory.
[ "$(id -u)" = 0 ] && loops=(--loop --writable sdb2)
"$simcomputer" "${loops[@]}" scripts/demo-computer.txt "$run/computer"
# A program that was stopped may leave its read-only mounts of the volumes:
# of their nodes, or of the read-only loop devices it puts over them.
release_computer() {
  [ ${#loops[@]} = 0 ] && return 0
  local over
  over=" $(losetup -n -l -O NAME,BACK-FILE | awk -v root="$run/computer/" 'index($2, root) == 1 { printf "%s ", $1 }')"
  awk -v root="$run/computer/" -v over="$over" 'index($1, root) == 1 || index(over, " " $1 " ") { print $2 }' \
      /proc/mounts | while read -r dir; do
    umount "$dir" && rmdir "$dir" "$(dirname "$dir")" 2>/dev/null || true
  done
  # A loop device just unmounted may stay busy for a moment.
  for _ in $(seq 20); do
    "$simcomputer" --detach "$run/computer" >/dev/null 2>&1 || true
    losetup -a | grep -q "$run/computer/.loops/" || break
    sleep 0.25
  done
}
trap release_computer EXIT
export ORVA_SYSROOT="$run/computer"
orva_ic="$PWD/build/tools/orva-ic/orva-ic"
# The demo computer as the reference, as the administration pages store it:
# hardware and partition tables; as root also three files and two registry
# branches of its Windows volume (the registry list is made from the volume
# mounted read-only for the moment).
approve_reference() {
  "$orva_ic" module approve hw
  "$orva_ic" module approve hd
  [ ${#loops[@]} = 0 ] && return 0
  local system=7C1E4B2A5D3F4A6E work="$run/reference"
  rm -rf "$work"
  mkdir "$work"
  # fs add tries each path as a directory first and logs why it is not one.
  for file in /bootmgr /Windows/System32/winload.exe /Windows/System32/drivers/etc/hosts; do
    "$orva_ic" fs add --list "$work/files.icl" "$system" "$file" --flags 12 >/dev/null 2>"$work/fs-add.log" ||
      { cat "$work/fs-add.log" >&2; return 1; }
  done
  "$orva_ic" module approve fs "$work/files.icl"
  mkdir "$work/volume"
  mount -o ro "$run/computer/dev/sda1" "$work/volume"
  local status=0
  "$orva_ic" rcl add "$work/registry.rcl" "$work/volume/Windows" \
      key '\REGISTRY\MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' >/dev/null &&
    "$orva_ic" rcl add "$work/registry.rcl" "$work/volume/Windows" \
      value '\REGISTRY\MACHINE\SYSTEM\ControlSet001\Services\Tcpip' ImagePath >/dev/null || status=$?
  umount "$work/volume"
  [ "$status" = 0 ] && "$orva_ic" module approve reg "$system" /Windows "$work/registry.rcl" || status=$?
  rm -rf "$work"
  return "$status"
}
if [ "$keep" = 0 ] || [ ! -d "$ORVA_SIM_DIR" ]; then
  rm -rf "$ORVA_SIM_DIR"
  "$sim" init --class 1 >/dev/null
  if [ "$first_start" = 0 ]; then
    # A module as an administrator leaves it: the accounts, and the demo
    # computer approved as the reference.
    "$sim" format >/dev/null
    "$sim" enroll SUPERVISOR --group ADMINS --id 0123456789AB --family 01 --password secret >/dev/null
    "$sim" enroll IVAN --group EVERYONE --id 010203040506 --family 01 --password secret >/dev/null
    approve_reference
  fi
fi
install -m 755 scripts/demo/kexec scripts/demo/kexec-boot-from-cd scripts/demo/kexec-boot-from-cd-emul-ram "$run/"
install -m 644 scripts/demo/orvainfo.txt "$run/"
install -m 755 build/src/orva-ng-gui "$run/"
cd "$run"
echo "Module: $ORVA_SIM_DIR (look at it with: ORVA_SIM_DIR=$ORVA_SIM_DIR $sim status)"

if [ "$screenshot" = 1 ]; then
  display=99
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
  done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >xvfb.log 2>&1 &
  xvfb_pid=$!
  program_pid=
  # A failing step (set -e) must not leave the server or the program behind.
  stop_screenshot_run() {
    for pid in $program_pid $xvfb_pid; do
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    done
    release_computer
  }
  trap stop_screenshot_run EXIT
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
  done
  DISPLAY=":$display" QT_QPA_PLATFORM=xcb ./orva-ng-gui >program.log 2>&1 &
  program_pid=$!
  sleep 2
  if [ "$first_start" = 0 ] && command -v xdotool >/dev/null; then
    # The administrator logs on: identifier, password, Enter; the report
    # and the choices follow.
    "$sim" touch --user SUPERVISOR >/dev/null
    sleep 1
    DISPLAY=":$display" xdotool type --delay 50 secret
    DISPLAY=":$display" xdotool key Return
    "$sim" untouch >/dev/null
  fi
  sleep "${ORVA_DEMO_SCREENSHOT_DELAY:-4}"
  DISPLAY=":$display" import -window root screenshot.png
  stop_screenshot_run
  trap - EXIT
  echo "Screenshot: $run/screenshot.png (program output in $run/program.log)"
elif [ -n "${DISPLAY:-}" ]; then
  QT_QPA_PLATFORM=xcb ./orva-ng-gui
else
  port="${ORVA_DEMO_VNC_PORT:-5900}"
  echo "No display: the program runs on Qt's VNC platform."
  echo "Connect a VNC viewer to localhost:$port (e.g. vncviewer localhost:$port); Ctrl+C here stops it."
  QT_QPA_PLATFORM="vnc:size=1280x1024:port=$port" ./orva-ng-gui
fi
