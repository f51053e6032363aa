# The installer's main window under Wine (x86_64 build), driven by the
# robot as a person would: every control at its place with its text and
# state, the fonts, colours and picture read inside the process, the
# keyboard order, agree enabling Install, the pages opened through the
# shell's http handler, the folder browser, Install wired to the
# installation, Escape and Alt+C closing the window; a higher DPI scales it
# all. Screenshots go to $TIDE_SCREENSHOT_DIR (default
# build/native/screenshots/main_window).
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
exe=$W64/Tidestart.exe robot=$W64/robot.exe probe=$W64/main_window_probe.exe
for f in "$exe" "$robot" "$probe" "$W64/standin_tomcat7w.exe"; do
  [ -f "$f" ] || { echo "skipped: $f not built"; exit 77; }
done
[ -f /usr/share/wine/fonts/tahoma.ttf ] || { echo "skipped: Wine's Tahoma (package fonts-wine) is not installed"; exit 77; }
start_wine_desktop
shots=${TIDE_SCREENSHOT_DIR:-$TIDE_NATIVE_BUILD/screenshots/main_window}
mkdir -p "$shots"
title="Tidewell Downloader"
R() { wine_run 60 "$robot" "$@" | tr -d '\r'; }
reg64() { wine_run 60 reg "$@" /reg:64 >/dev/null 2>&1 || true; }

# Wine's own Tahoma: a prefix made before fonts-wine was installed does not
# have it among its fonts yet (wineboot puts Wine's fonts there).
fonts=$WINEPREFIX/drive_c/windows/Fonts
for f in tahoma.ttf tahomabd.ttf; do [ -f "$fonts/$f" ] || cp /usr/share/wine/fonts/$f "$fonts/"; done

# A machine without an installation: no settings, no uninstall entry.
forget_installation() {
  reg64 delete 'HKLM\Software\Quorvan Labs\Tidewell' /f
  reg64 delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' /f
  rm -rf "$WINEPREFIX/drive_c/Tidewell"
}
forget_installation
on_exit forget_installation

# A stand-in browser: the shell's http handler records the pages opened.
browser=$TEST_TMP/browser.exe
cp "$W64/standin_tomcat7w.exe" "$browser"
handler() {  # SCHEME: the command the shell runs for it
  wine_run 60 reg query "HKCR\\$1\\shell\\open\\command" /ve 2>/dev/null | tr -d '\r' |
    awk '/REG_SZ/ {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'
}
set_handler() { wine_run 60 reg add "HKCR\\$1\\shell\\open\\command" /ve /d "$2" /f >/dev/null; }
for scheme in http https; do
  old=$(handler $scheme)
  echo "$old" > "$TEST_TMP/$scheme.handler"
  set_handler $scheme "\"$(winpath "$browser")\" \"%1\""
  on_exit "set_handler $scheme \"\$(cat '$TEST_TMP/$scheme.handler')\""
done

# A release manifest without an application version, served over HTTP:
# Install then stops after the window has switched to its progress view.
mkdir -p "$TEST_TMP/site/loader"
printf '[GENERAL]\r\nBINARY_BASE=http://127.0.0.1:9/\r\n' > "$TEST_TMP/site/loader/downloader.ini"
sign_manifest "$TEST_TMP/site/loader/downloader.ini"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
start_nginx "$TEST_TMP/site"

start_window() {  # ARGS...: the program in the background, its pid in $win_pid
  # Not through the wine_run function: $! must be timeout itself, which
  # passes a kill on to the program.
  timeout --kill-after=5 300 "$WINE64" "$exe" "$@" > "$TEST_TMP/window.out" 2>&1 &
  win_pid=$!
  on_exit "kill $win_pid 2>/dev/null"
}

# A screenshot of the window (the frame line of "robot window" gives its
# place on the screen): NAME.png in the output folder.
shot() {  # NAME [FRAME-LINE]
  local frame=${2:-$(R window --title "$title" | head -1)} g
  g=$(echo "$frame" | awk -F'|' '{split($4, r, ","); printf "%dx%d+%d+%d", r[3], r[4], r[1], r[2]}')
  sleep 0.4  # let the last paint reach the screen
  import -window root -crop "$g" +repage "$shots/$1.png" || fail "no screenshot $1"
  echo "screenshot: $shots/$1.png"
}

check_window() {  # NAME EXPECTED-PATTERNS: python checks the robot's listing
  python3 "$TIDE_SOURCE_DIR/tests/wine/main_window_check.py" "$@"
}

# --- first run: the window as it comes up ---
start_window /i "$NGINX_URL/loader/downloader.ini"
listing=$(R window --title "$title" --until "enabled:&Cancel" --timeout 60) || fail "the window did not come up"
echo "$listing"
echo "$listing" > "$TEST_TMP/initial.txt"
check_window layout "$TEST_TMP/initial.txt" || fail "controls not as laid out"
pass "every control at its place with its text, visible and enabled state; 735 x 400 client area"
grep -qx 'control|106|Edit|C:\\Program Files\\Quorvan Labs\\Tidewell\\|208,101,473,21|1|1|0' "$TEST_TMP/initial.txt" ||
  fail "the default path is not the native Program Files folder"
pass "default path: the native Program Files folder and Quorvan Labs\\Tidewell\\"
grep -qx 'focus|C:\\Program Files\\Quorvan Labs\\Tidewell\\' "$TEST_TMP/initial.txt" || fail "the path does not have the focus"
shot main_window "$(head -1 "$TEST_TMP/initial.txt")"
# The picture shows: night sky at its top, the white calendar page in its middle.
px() { convert "$shots/main_window.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:; }
client_x=$(( $(head -1 "$TEST_TMP/initial.txt" | awk -F'|' '{split($5,c,","); split($4,w,","); print c[1]-w[1]}') ))
client_y=$(( $(head -1 "$TEST_TMP/initial.txt" | awk -F'|' '{split($5,c,","); split($4,w,","); print c[2]-w[2]}') ))
read -r r g b <<< "$(px $((client_x + 16 + 8)) $((client_y + 34 + 8)))"
echo "picture, top left: $r $g $b"
[ "$b" -gt $((r + 30)) ] && [ "$r" -lt 60 ] || fail "the picture's sky is not there: $r $g $b"
read -r r g b <<< "$(px $((client_x + 16 + 40)) $((client_y + 34 + 120)))"
echo "picture, calendar page: $r $g $b"
[ "$r" -gt 200 ] && [ "$g" -gt 200 ] && [ "$b" -gt 200 ] || fail "the picture's calendar page is not there: $r $g $b"
pass "the picture shows the decoded artwork"

# Keyboard order: Tab from the path through every enabled control and round.
order=()
for i in 1 2 3 4 5 6; do
  R key --title "$title" tab >/dev/null
  order+=("$(R window --title "$title" | grep '^focus|' | cut -d'|' -f2-)")
done
got=$(printf '%s\n' "${order[@]}")
echo "$got"
want='...
I agree to the terms of the license.
View License Agreement
I do not agree to the terms of the license.
&Cancel
C:\Program Files\Quorvan Labs\Tidewell\'
[ "$got" = "$want" ] || fail "Tab order (Install and Uninstall are disabled); expected:
$want"
pass "Tab order: path, ..., agree, licence, disagree, Cancel (disabled Install and Uninstall skipped), path"

# Agree enables Install and gives it the focus; disagree disables it again.
R click --title "$title" --text "I agree to the terms of the license." || fail "no agree button"
R window --title "$title" --until "focus:&Install" --timeout 10 > "$TEST_TMP/agreed.txt" || fail "Install did not get the focus"
grep -q '^control|119|Button|&Install|.*|1|1|0$' "$TEST_TMP/agreed.txt" || fail "Install not enabled"
grep -q '^control|108|Button|I agree.*|1|1|1$' "$TEST_TMP/agreed.txt" || fail "agree not checked"
grep -q '^control|110|Button|I do not agree.*|1|1|0$' "$TEST_TMP/agreed.txt" || fail "disagree still checked"
R key --title "$title" tab >/dev/null
grep -qx 'focus|&Cancel' <(R window --title "$title") || fail "Tab after Install does not reach Cancel"
R click --title "$title" --text "I do not agree to the terms of the license."
R window --title "$title" --until "disabled:&Install" --timeout 10 >/dev/null || fail "disagree left Install enabled"
R click --title "$title" --text "I agree to the terms of the license."
R window --title "$title" --until "enabled:&Install" --timeout 10 >/dev/null || fail "agree again did not enable Install"
pass "agree enables and focuses Install, disagree disables it, agree again enables it"

# The link and the licence button open their pages with the shell.
R click --title "$title" --text "Tidewell - Hosted"
for i in $(seq 1 100); do [ -s "$TEST_TMP/browser.args" ] && break; sleep 0.1; done
R click --title "$title" --text "View License Agreement"
for i in $(seq 1 100); do [ "$(wc -l < "$TEST_TMP/browser.args" 2>/dev/null || echo 0)" -ge 2 ] && break; sleep 0.1; done
pages=$(tr -d '\r"' < "$TEST_TMP/browser.args" 2>/dev/null || true)
echo "$pages"
[ "$pages" = 'https://www.quorvanlabs.com/trial/TrialSignup.html?from=installer
https://www.quorvanlabs.com/loader/LICENSE.html' ] || fail "pages opened: $pages"
pass "the link opens the hosted-service page, the button the licence page"

# The folder browser: a dialog of the window's own; cancelled, the path stays.
R click --title "$title" --text "..."
dialog=$(R window --class '#32770' --until "visible:Cancel" --timeout 20) || fail "no folder browser"
echo "$dialog" | head -3
shot folder_browser "$(echo "$dialog" | head -1)"
dialog_title=$(echo "$dialog" | head -1 | cut -d'|' -f3)
R click --title "$dialog_title" --text Cancel || fail "no Cancel in the folder browser"
R wait-gone --title "$dialog_title" --timeout 10 || fail "the folder browser did not close"
grep -qx 'control|106|Edit|C:\\Program Files\\Quorvan Labs\\Tidewell\\|208,101,473,21|1|1|0' <(R window --title "$title") ||
  fail "cancelling the browser changed the path"
pass "the ... button opens the folder browser (\"$dialog_title\"); cancelled, the path is unchanged"

# The path typed, Install clicked: the installation takes the window over
# (this manifest names no application version, so it stops there).
R type --title "$title" --class-of-control Edit --text 'C:\Tidewell\' || fail "cannot type the path"
shot main_window_ready
R click --title "$title" --text "&Install"
box=$(R expect --caption "Error Download Files" --timeout 60) || fail "no \"Error Download Files\" box after Install"
echo "$box"
R window --title "$title" --until "hidden:I agree to the terms of the license." --timeout 10 > "$TEST_TMP/installing.txt" ||
  fail "the licence controls were not hidden"
cat "$TEST_TMP/installing.txt"
check_window installing "$TEST_TMP/installing.txt" || fail "the progress view is not as it should be"
[ -d "$WINEPREFIX/drive_c/Tidewell" ] || fail "C:\\Tidewell was not created"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' AppPath)" = 'C:\Tidewell\' ] || fail "AppPath not recorded"
shot main_window_installing
pass "Install: the path created and recorded, licence controls hidden, stage labels, bar and status line shown, buttons disabled"

# Escape is Cancel: with no download running the window closes and the
# program ends.
R key --title "$title" escape
R wait-gone --title "$title" --timeout 20 || fail "Escape did not close the window"
wait "$win_pid" || fail "the program ended with $?"
pass "Escape closes the window; the program ends with 0"

# --- second run: a recorded installation ---
start_window
listing=$(R window --title "$title" --until "enabled:&Uninstall" --timeout 60) || fail "Uninstall not enabled with a recorded installation"
<<<"$listing" grep -qx 'control|106|Edit|C:\\Tidewell\\|208,101,473,21|1|1|0' || fail "the recorded directory is not offered"
R click --title "$title" --text "I agree to the terms of the license."
R window --title "$title" --until "focus:&Install" --timeout 10 >/dev/null || fail "Install did not get the focus"
order=()
for i in 1 2 3; do
  R key --title "$title" tab >/dev/null
  order+=("$(R window --title "$title" | grep '^focus|' | cut -d'|' -f2-)")
done
[ "$(printf '%s|' "${order[@]}")" = '&Uninstall|&Cancel|C:\Tidewell\|' ] || fail "Tab after Install: ${order[*]}"
pass "a recorded installation: its directory offered, Uninstall enabled, Tab goes Install, Uninstall, Cancel"
R key --title "$title" alt+c
R wait-gone --title "$title" --timeout 20 || fail "Alt+C did not close the window"
wait "$win_pid" || fail "the program ended with $?"
pass "Alt+C presses Cancel"

# --- inside the process: fonts, colours, picture, posted updates ---
forget_installation
out=$(wine_run 120 "$probe" | tr -d '\r') || fail "the probe failed: $out"
echo "$out"
echo "$out" > "$TEST_TMP/probe.txt"
check_window probe "$TEST_TMP/probe.txt" 96 || fail "fonts, picture or posted updates not as they should be"
pass "Tahoma 11, 13 and 16 px, bold stage label, blue underlined link, the decoded picture, status line and bar from another thread"

# --- at 120 DPI everything is a quarter larger (125 %, which the 1024 x 768 test screen holds) ---
wine_run 60 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 120 /f >/dev/null
on_exit "wine_run 60 reg delete 'HKCU\\Control Panel\\Desktop' /v LogPixels /f >/dev/null 2>&1"
out=$(wine_run 120 "$probe" | tr -d '\r') || fail "the probe failed at 120 DPI: $out"
echo "$out" > "$TEST_TMP/probe120.txt"
grep -q '^client|.*|dpi|120$' "$TEST_TMP/probe120.txt" ||
  fail "the window did not get 120 DPI from LogPixels: $(grep '^client' "$TEST_TMP/probe120.txt")"
echo "$out"
check_window probe "$TEST_TMP/probe120.txt" 120 || fail "not scaled for 120 DPI"
start_window
frame=$(R window --title "$title" --until "enabled:&Cancel" --timeout 60 | head -1) || fail "no window at 120 DPI"
shot main_window_120dpi "$frame"
R key --title "$title" escape
R wait-gone --title "$title" --timeout 20 || fail "Escape did not close the window at 120 DPI"
wait "$win_pid" || fail "the program ended with $?"
pass "at 120 DPI: client area 919 x 500, every control and font scaled"
