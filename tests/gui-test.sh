#!/usr/bin/env bash
# A whole calibration driven as a person drives it, with real X input (xdotool) on a
# virtual display: type into the setup form, press Enter, find the guide star on the
# screen and click it after each exposure, close the messages; then check what the
# simulated camera received.
#   gui-test.sh BITS BUILD [--shots DIR] [--stop]
# BITS: the edition. DIR: save screenshots: the form, the guide image, the calibration
# panel (during the run and at the result) and the result message as the README shows
# them, and the whole screen at every step (step-*.png). --stop: in the second pass,
# drag Brastow's calibration panel aside and press its Stop button with the mouse
# instead of clicking the star: the run must end quietly with nothing written.
# Runs itself under xvfb-run when there is no display. Exits 77 (skipped) where this
# machine cannot run programs of the edition's width.
set -u
bits=$1 build=$(cd "$2" && pwd); shift 2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
shots="" stop=""
while [ $# -gt 0 ]; do
  case $1 in
    --shots) shots=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    --stop) stop=1; shift ;;
    *) echo "gui-test.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
wine_env "$bits" "$build/wineprefix-gui" || exit
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$bits" "$build" ${shots:+--shots "$shots"} ${stop:+--stop}
fi
work=$(mktemp -d)
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
finish() {
  local rc=$?
  [ -n "${driver:-}" ] && kill "$driver" 2>/dev/null
  bash "$here/wine-prefix.sh" stop "$bits" "$build"
  rm -rf "$work"
  # A step that gave up (exit 1 before every check ran) is a failure too.
  [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
  echo "$passed passed, $failed failed"
  exit "$failed"
}
trap finish EXIT

# Waits up to $2 seconds for a window whose name matches $1; prints its id.
window() {
  local end=$((SECONDS + $2)) id
  while [ $SECONDS -lt $end ]; do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# The brightest smoothed spot in the guide window's image area, in screen coordinates.
star() {
  local id=$1 x y w h
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  import -window "$id" "$work/guide.png" 2>/dev/null || return 1
  local bx=$(((w - 640) / 2)); local by=$((h - 480 - bx))
  convert "$work/guide.png" -crop "640x480+$bx+$by" +repage -colorspace Gray -blur 0x1.5 "$work/blur.png"
  identify -define identify:locate=maximum -define identify:limit=1 "$work/blur.png" |
    sed -n 's/.* \([0-9]*\),\([0-9]*\)$/\1 \2/p' | head -1 |
    { read -r sx sy && echo "$((x + bx + sx)) $((y + by + sy))"; }
}

# Drags Brastow's calibration panel by its body, then presses its Stop button, each with
# the real mouse: the panel follows the pointer and the press ends the run.
press_stop() {
  local panel X Y WIDTH HEIGHT x0 y0 bx by
  panel=$(window "^Brastow calibration$" 10)
  check "the calibration panel is shown" '[ -n "$panel" ]'
  [ -n "$panel" ] || exit
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  x0=$X y0=$Y
  bx=$((X + 30)) by=$((Y + HEIGHT - 15))  # below the check line, left of Stop
  xdotool mousemove "$bx" "$by" mousedown 1 sleep 0.3 mousemove $((bx - 40)) $((by + 20)) sleep 0.3 \
    mousemove $((bx - 80)) $((by + 40)) sleep 0.3 mouseup 1
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$panel")"
  check "the panel moves with the pointer" '[ "$X" = $((x0 - 80)) ] && [ "$Y" = $((y0 + 40)) ]'
  # (No process substitution: the emulated PC has no /dev/fd.)
  read -r sx sy <<<"$(tr -d '\r' <"$work/driver.log" | sed -n 's/^Brastow panel: Stop button at \([0-9]*\) \([0-9]*\)$/\1 \2/p' | head -1)"
  check "the host driver saw the Stop button" '[ -n "$sx" ]'
  [ -n "$sx" ] || exit
  xdotool mousemove $((sx + X - x0)) $((sy + Y - y0)) click 1
  step "2-stop-pressed"
}

BRASTOW_DISPLAY=1 bash "$here/wine-prefix.sh" start "$bits" "$build" >/dev/null || { echo "FAIL: prefix"; exit 1; }
cd "$build"
# Numbers are typed as a user of this locale types them.
sep=$("$WINE" hostdriver.exe --decimal-separator </dev/null 2>/dev/null | tr -d '\r')
[ -n "$sep" ] || sep=.
"$WINE" hostdriver.exe --visible --exposure-ms 400 --angle 31 --rate-x 2 --rate-y 1.5 --backlash-x 1 --backlash-y 0 \
  --x-time 12 --y-time 15 --percent 50 --dec 20 --measure-error 0 --seed 5 </dev/null >"$work/driver.log" 2>&1 &
driver=$!

form=$(window "Guide star setup" 90)
check "the setup form opens" '[ -n "$form" ]'
[ -n "$form" ] || exit
host=$(window "MaxIm DL \(simulated\)" 10)
sleep 0.5  # let the form take the keyboard focus
[ -n "$shots" ] && import -window "$form" "$shots/setup-form.png"
# A screenshot of the whole screen, when asked for.
step() { [ -n "$shots" ] && import -window root "$shots/step-$1.png" 2>/dev/null; true; }
step 0-setup-form
# Focus starts on OK; Tab goes OK, Cancel, X time, percentage, Y time, check box,
# exposure, declination. Tabbing into a field selects its text, so typing replaces it.
xdotool key Tab Tab && xdotool type --delay 30 "12"
xdotool key Tab && xdotool type --delay 30 "50"
xdotool key Tab && xdotool type --delay 30 "15"
xdotool key Tab space
xdotool key Tab && xdotool type --delay 30 "1${sep}5"
xdotool key Tab && xdotool type --delay 30 "20"
xdotool key Return

last=""
for pass in 0 1 2 3 4; do
  guide=$(window "Autoguider Image" 30)
  check "guide image shown in pass $pass" '[ -n "$guide" ]'
  [ -n "$guide" ] || exit
  # Wait for the new frame: the star has moved since the last click.
  end=$((SECONDS + 30)); pos=""
  while [ $SECONDS -lt $end ]; do
    sleep 0.3
    pos=$(star "$guide") || continue
    [ -z "$last" ] && break
    read -r ax ay <<<"$pos"; read -r lx ly <<<"$last"
    [ $(((ax - lx) * (ax - lx) + (ay - ly) * (ay - ly))) -gt 9 ] && break
  done
  check "star found in pass $pass" '[ -n "$pos" ]'
  if [ -n "$stop" ] && [ $pass = 1 ]; then press_stop; break; fi
  read -r sx sy <<<"$pos"
  xdotool mousemove "$sx" "$sy" click 1
  last=$pos
  if [ $pass = 0 ] || [ $pass = 1 ]; then
    # The click is marked (a red ring) and so is the star as the host measured it (a
    # green cross), next to the click.
    sleep 0.6
    import -window "$guide" "$work/marked.png" 2>/dev/null
    eval "$(xdotool getwindowgeometry --shell "$guide")"
    cx=$((sx - X - 20)) cy=$((sy - Y - 20))
    count() { convert "$work/marked.png" -crop "40x40+$cx+$cy" +repage -fx "$1" -format "%[fx:round(mean*w*h)]" info: 2>/dev/null; }
    check "the click is marked in pass $pass" '[ "$(count "r>0.6 && g<0.35 && b<0.35")" -gt 5 ]'
    check "the measured star is marked in pass $pass" '[ "$(count "g>0.5 && r<0.35 && b<0.35")" -gt 5 ]'
    [ -n "$shots" ] && [ $pass = 1 ] && cp "$work/marked.png" "$shots/guide-image.png"
  fi
  step "$((pass + 1))-clicked-$((pass + 1))-of-5"
  [ -n "$shots" ] && [ $pass = 2 ] && import -window "$(window "^Brastow calibration$" 5)" "$shots/panel-run.png"
done

if [ -n "$stop" ]; then
  # Stopped in the second pass: no further exposure, move or message, nothing written.
  for _ in $(seq 1 60); do kill -0 "$driver" 2>/dev/null || break; sleep 0.5; done
  check "the host driver finished" '! kill -0 "$driver" 2>/dev/null'
  wait "$driver"; rc=$?; driver=""
  tr -d '\r' <"$work/driver.log" >"$work/log"
  check "DoModal returned quietly" '[ $rc -eq 0 ] && grep -q "DoModal returned 0x00000000" "$work/log"'
  check "no exposure after Stop" '! grep -q "Exposing 3 of 5" "$work/log"'
  check "no message after Stop" '! grep -q "^Message:" "$work/log"'
  check "nothing written" '[ "$(grep -c "(not written)" "$work/log")" = 3 ]'
  check "the panel was never the active window" '! grep -q "panel was the active window" "$work/log"'
  check "every host object released" 'grep -q "Host objects still alive: 0" "$work/log"'
  [ $failed -gt 0 ] || [ -n "${BRASTOW_GUI_VERBOSE:-}" ] && cat "$work/log"
  exit 0
fi

# The person was told what is going on, and the guide image left the instructions and
# the status line above it readable.
check "the observatory says which exposure runs" 'grep -q "Exposing 5 of 5" "$work/driver.log" 2>/dev/null || tr -d "\r" <"$work/driver.log" | grep -q "Exposing 5 of 5"'
check "the observatory asks for each click" 'tr -d "\r" <"$work/driver.log" | grep -q "Click the guide star (5 of 5)"'
guideTop=$(xdotool getwindowgeometry --shell "$guide" | sed -n 's/^Y=//p')
hostTop=$(xdotool getwindowgeometry --shell "$host" | sed -n 's/^Y=//p')
check "the guide image keeps the instructions visible" '[ -n "$hostTop" ] && [ "$guideTop" -ge $((hostTop + 140)) ]'

for message in settings backlash; do
  box=$(window "^Brastow$" 30)
  check "the $message message is shown" '[ -n "$box" ]'
  [ -n "$box" ] || exit
  if [ -n "$shots" ] && [ $message = settings ]; then
    import -window "$box" "$shots/result-message.png"
    import -window "$(window "^Brastow calibration$" 5)" "$shots/panel-result.png"
  fi
  step "$([ $message = settings ] && echo 6 || echo 7)-$message-message"
  xdotool key Return
  sleep 0.5
done

for _ in $(seq 1 60); do kill -0 "$driver" 2>/dev/null || break; sleep 0.5; done
check "the host driver finished" '! kill -0 "$driver" 2>/dev/null'
wait "$driver"; rc=$?; driver=""
check "DoModal succeeded" '[ $rc -eq 0 ] && grep -q "DoModal returned 0x00000000" "$work/driver.log"'
tr -d '\r' <"$work/driver.log" >"$work/log"
value() { sed -n "s/^  $1 *= \([-0-9.,E+]*\).*/\1/p" "$work/log" | tr , .; }
truth() { sed -n "s/^Simulated truth: .*$1 \([-0-9.]*\).*/\1/p" "$work/log"; }
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a != "" && d <= t) }'; }
check "setup values reached the run" 'grep -q "Message: CameraAngle=" "$work/log" && grep -q "Message: Calculated settings are: XBacklash=" "$work/log"'
check "camera angle written" 'near "$(value GuiderAngle)" "$(truth angle)" 0.3'
check "X speed written" 'near "$(value GuiderXSpeed)" "$(truth "X speed")" 0.03'
check "Y speed written" 'near "$(value GuiderYSpeed)" "$(truth "Y speed")" 0.03'
check "X backlash shown" 'near "$(sed -n "s/.*XBacklash=\([-0-9.,E]*\).*/\1/p" "$work/log" | tr , .)" "$(truth "X backlash")" 0.05'
check "every host object released" 'grep -q "Host objects still alive: 0" "$work/log"'
[ $failed -gt 0 ] || [ -n "${BRASTOW_GUI_VERBOSE:-}" ] && cat "$work/log"
exit 0
