#!/usr/bin/env bash
# The real client window on a real X server with a window manager, driven as an operator
# drives it: 30,000 zip codes pasted into the manual list, Render Image, the viewer found
# inside a 1280 x 800 screen and opened fitted to it, a click on the markers of Colorado,
# and the answer read from the message box (Ctrl+C copies a message box's text).
#
# usage: desktop_check.sh <ZembraClient> <zip-code CSV> <usa.jpg>
# Exits 77 (skipped) when Xvfb, openbox, xdotool or xclip is missing.
set -euo pipefail

client=$1
zipcsv=$2
usamap=$3

for tool in Xvfb openbox xdotool xclip file; do
  command -v "$tool" >/dev/null || { echo "desktop check skipped: $tool missing"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "desktop check FAILED: $*" >&2; exit 1; }

# Waits up to $1 seconds for a visible window whose name matches $2; prints its id.
window() {
  local deadline=$((SECONDS + $1)) id
  while ((SECONDS < deadline)); do
    id=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# A private X server and home; the user's own folders stay untouched.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
for n in $(seq 90 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
done
[ -n "${display:-}" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdotool get_num_desktops >/dev/null 2>&1 && break; sleep 0.1; done

# 30,000 codes on the clipboard, one a line.
awk -F, 'NR > 1 && NR <= 30001 { print $1 }' "$zipcsv" >"$work/codes.txt"
[ "$(wc -l <"$work/codes.txt")" -eq 30000 ] || fail "fewer than 30,000 codes in $zipcsv"
xclip -selection clipboard -i "$work/codes.txt"

QT_QPA_PLATFORM=xcb "$client" >"$work/client.log" 2>&1 &
pids+=($!)
main=$(window 30 '^Zembra, version') || fail "the main window did not appear"
xdotool windowactivate --sync "$main" 2>/dev/null || true
eval "$(xdotool getwindowgeometry --shell "$main")"

# Into the manual list (the middle of the page), paste, then Render Image (bottom right).
xdotool mousemove --window "$main" $((WIDTH / 3)) $((HEIGHT * 11 / 20)) click 1
sleep 0.3
xdotool key ctrl+v
sleep 1
xdotool mousemove --window "$main" $((WIDTH - 60)) $((HEIGHT - 46)) click 1

viewer=$(window 300 '^View Image$') || fail "no viewer after the render (see $work/client.log)"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$viewer")"
# Where the viewer's corners are on the screen, read from the pointer moved onto them
# (the window's reported position counts a window manager's frame offset twice).
xdotool mousemove --window "$viewer" 0 0
eval "$(xdotool getmouselocation --shell | sed 's/^/TOP_/')"
xdotool mousemove --window "$viewer" $((WIDTH - 1)) $((HEIGHT - 1))
eval "$(xdotool getmouselocation --shell | sed 's/^/BOTTOM_/')"
echo "viewer from ${TOP_X},${TOP_Y} to ${BOTTOM_X},${BOTTOM_Y} (${WIDTH}x${HEIGHT})"
# The pointer stays on the screen, so a corner off-screen shows as a clamped position.
((TOP_X + WIDTH - 1 == BOTTOM_X && TOP_Y + HEIGHT - 1 == BOTTOM_Y && TOP_Y > 0)) ||
  fail "the viewer (${TOP_X},${TOP_Y} ${WIDTH}x${HEIGHT}) is not within the 1280 x 800 screen"

# The middle of Colorado: every Colorado code (80xxx, 81xxx) is among the 30,000. The
# picture is larger than the viewer, so the viewer opens with it fitted to its view, the
# picture's top-left corner at the view's; the view is the window less the tool bar and
# the status line.
read -r mapw maph < <(file -L "$usamap" | grep -o '[0-9]\+x[0-9]\+' | tail -1 | tr x ' ')
toolbar=30 status=20  # about; Colorado is wider than the error this leaves
fit=$(awk -v w="$WIDTH" -v h="$HEIGHT" -v mw="$mapw" -v mh="$maph" -v t="$toolbar" -v s="$status" \
  'BEGIN { a = (w - 4) / mw; b = (h - t - s - 4) / mh; printf "%.4f", a < b ? a : b }')
px=$(awk -v w="$mapw" -v f="$fit" 'BEGIN { printf "%d", f * w / 58.56 * (-105.5 + 125) }')
py=$(awk -v h="$maph" -v f="$fit" 'BEGIN { printf "%d", f * (h - h / 26 * (39 - 24)) }')
echo "Colorado at ${px},${py} of the view (zoom ${fit})"
xdotool mousemove --window "$viewer" $((px + 1)) $((py + toolbar + 1)) click 1

answer=$(window 60 '^ZembraClient$') || fail "no answer box after the click"
xdotool windowactivate --sync "$answer" 2>/dev/null || true
sleep 0.3
xclip -selection clipboard -i /dev/null  # whatever is read next comes from the box
sleep 0.3
xdotool key ctrl+c
sleep 0.5
text=$(xclip -selection clipboard -o 2>/dev/null || true)
code=$(grep -o '\b[0-9]\{5\}\b' <<<"$text" | head -1 || true)
echo "answer: ${code:-$text}"
[ -n "$code" ] || fail "the answer box holds no zip code: $text"
grep -qx "$code" "$work/codes.txt" || fail "$code was not among the codes rendered"
case $code in 80* | 81*) ;; *) fail "$code is not a Colorado code" ;; esac

xdotool key Return
echo "desktop check passed"
