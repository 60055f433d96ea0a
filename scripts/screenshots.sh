#!/usr/bin/env bash
# Takes the pictures of the dialogs in docs/screenshots/ (the tabs: see
# scripts/tab-screenshots.sh) from the real program: starts `orvane`
# on a virtual display (Xvfb), drives it with xdotool as a user would (clicks on
# the real window), and grabs each window with ImageMagick's `import`.
#
#   scripts/screenshots.sh [OUTPUT_DIR]      (default: docs/screenshots)
#
# - Builds nothing: it expects build/default (scripts/build.sh default).
# - Installs xvfb, xauth, imagemagick and xdotool when they are missing (as root
#   or through sudo).
# - Every byte of network traffic stays on loopback. When the machine allows it,
#   everything runs in a network namespace of its own that has nothing but a
#   loopback interface. In any case the program gets a private settings
#   directory (XDG_CONFIG_HOME) whose [Discovery] Targets name the two simulated
#   devices on 127.0.0.2 and 127.0.0.3, so discovery never broadcasts, and the
#   streams go to 127.0.0.1.
# - Every process it starts is ended on exit (trap), also on failure or Ctrl-C.
# - Not run in CI: it needs a few minutes, a display server and someone to look
#   at the pictures afterwards.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
root=$PWD
bin=$root/build/default
out=$(realpath -m "${1:-docs/screenshots}")

gui=$bin/src/orvane
cli=$bin/tools/orvane-cli
devsim=$bin/tools/orvane-devsim/orvane-devsim
for exe in "$gui" "$cli" "$devsim"; do
  [ -x "$exe" ] || { echo "screenshots: $exe is missing; build first: scripts/build.sh default" >&2; exit 1; }
done

# --- stage 1: tools, then the same script again inside a namespace and Xvfb ---
if [ -z "${ORVANE_SHOTS_STAGE:-}" ]; then
  missing=()
  command -v xvfb-run >/dev/null || missing+=(xvfb)
  command -v xauth >/dev/null || missing+=(xauth)
  command -v import >/dev/null || missing+=(imagemagick)
  command -v xdotool >/dev/null || missing+=(xdotool)
  if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "screenshots: installing ${missing[*]}"
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  mkdir -p "$out"
  export ORVANE_SHOTS_STAGE=display
  inner=(xvfb-run -a -s "-screen 0 1280x900x24 -nolisten tcp" "$self" "$out")
  # A namespace with only a loopback interface: nothing can leave the machine.
  # As root `unshare -n`, otherwise a user namespace if the kernel allows one.
  for ns in "unshare -n" "unshare -rn"; do
    if $ns ip link set lo up 2>/dev/null; then
      echo "screenshots: running in a private network namespace ($ns)"
      exec $ns sh -c 'ip link set lo up && exec "$@"' sh "${inner[@]}"
    fi
  done
  echo "screenshots: no private network namespace here; loopback-only settings keep the traffic local"
  exec "${inner[@]}"
fi

# --- stage 2: on the virtual display ---
work=$(mktemp -d /tmp/orvane-shots.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    # Bounded: the processes end on SIGTERM within a second or two.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log() { echo "screenshots: $*"; }
fail() { echo "screenshots: $*" >&2; exit 1; }

# Where a widget of a form lies: the centre of its geometry in the form, from the .ui file.
ui_center() {
  python3 - "$root/resources/$1.ui" "$2" <<'EOF'
import sys, xml.etree.ElementTree as ET
path, name = sys.argv[1], sys.argv[2]
def walk(widget, ox, oy):
    rect = widget.find("property[@name='geometry']/rect")
    x = y = 0
    if rect is not None:
        x, y, w, h = (int(rect.find(k).text) for k in ("x", "y", "width", "height"))
        if widget.get("name") == name:
            print(ox + x + w // 2, oy + y + h // 2)
            sys.exit(0)
    for child in widget.findall("widget"):
        walk(child, ox + x, oy + y)
top = ET.parse(path).getroot().find("widget")
for child in top.findall("widget"):
    walk(child, 0, 0)
sys.exit("no widget %s in %s" % (name, path))
EOF
}

# The menus in the main window (Fusion under Xvfb).
readonly kMenuBarY=10 kMenuItemY=33

find_window() { # TITLE (exact) -> window id, waiting up to 20 s
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -1) || fail "no window \"$1\""
  echo "$id"
}
wait_gone() { # TITLE
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "window \"$1\" did not close"
}
click_at() { # WINDOW X Y
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.4
}
click_dialog() { # WINDOW FORM WIDGET: a control of a dialog
  local x y
  read -r x y < <(ui_center "$2" "$3")
  click_at "$1" "$x" "$y"
}
shot() { # WINDOW NAME: grab one window, without the mouse hovering over a control
  xdotool mousemove 1270 890
  sleep 0.6
  import -window "$1" "$out/$2"
  log "wrote $out/$2 ($(identify -format '%wx%h' "$out/$2"))"
}

# Settings as a first start would make them, plus where the files are and
# where discovery requests go: only to the simulated devices.
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_CONFIG_HOME/Local AppWizard-Generated Applications" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export LC_NUMERIC=C.UTF-8 LANG=C.UTF-8 QT_QPA_PLATFORM=xcb
demo=$work/news-3prog.ts
rec=$work/capture.ts
settings="$XDG_CONFIG_HOME/Local AppWizard-Generated Applications/orvane.conf"
cat >"$settings" <<EOF
[Discovery]
Targets="127.0.0.2,127.0.0.3"
Port=8947

[Play]
File=$demo
NetworkAddrs=2130706433
NetworkPort=5555
NetworkType=1

[Record]
File=$rec
NetworkPort=6100
NetworkType=0
RecType=0
RecSize=60
FileLoopEnable=1
FileLoopCnt=4
EOF

"$cli" generate "$demo" --programs 3 --rate 8000000 --duration 30 >/dev/null
"$devsim" --address 127.0.0.2 --serial 4711001 --model IPS-400 >"$work/devsim-2.log" &
pids+=($!)
"$devsim" --address 127.0.0.3 --serial 4711002 --model IPS-800 --mac 02:00:00:00:00:02 >"$work/devsim-3.log" &
pids+=($!)

"$gui" >"$work/orvane.log" 2>&1 &
gui_pid=$!
pids+=("$gui_pid")
main=$(find_window Orvane)
xdotool windowmove "$main" 0 0
sleep 1.5

# The tabs and the TOT/TDT dialog: scripts/tab-screenshots.sh (the window's
# layout places the controls, so they are driven by name, not by position).

# 4. Device > Discover IP Devices, with the first device selected.
click_at "$main" 30 "$kMenuBarY"
click_at "$main" 60 "$kMenuItemY"
dlg=$(find_window "Detected devices")
sleep 2.5
click_at "$dlg" 150 46
shot "$dlg" discover-dialog.png
click_dialog "$dlg" CDiscoverDlg okButton
wait_gone "Detected devices"

# 9. Help > About Orvane...
click_at "$main" 79 "$kMenuBarY"
click_at "$main" 110 "$kMenuItemY"
dlg=$(find_window "About Orvane")
shot "$dlg" about-box.png
click_dialog "$dlg" CAboutDlg okButton
wait_gone "About Orvane"

# The end: Escape closes the main window; the program saves its settings.
xdotool windowfocus --sync "$main" key Escape || true
for _ in $(seq 100); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.1; done
grep -h 'discover from' "$work"/devsim-*.log | sort | uniq -c | sed 's/^/screenshots: /' || true
if grep -qv '^$' "$work/orvane.log"; then
  log "orvane said:"
  sed 's/^/  /' "$work/orvane.log"
fi
log "done"
