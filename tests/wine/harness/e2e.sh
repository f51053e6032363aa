# Sourced after lib.sh, standins.sh and tidewell.sh by the runs that drive
# a whole installation through the real main window (the main job and the
# end-to-end tests).
#
#   e2e_release DIR VERSION [ARCH]   stand-in release plus Tidewell VERSION, manifest completed
#   e2e_serve ROOT [RATE]            nginx over ROOT (limit_rate RATE, e.g. 40k); sets E2E_URL
#   e2e_point DIR                    BINARY_BASE of DIR/downloader.ini at DIR as served, signed again
#   e2e_forget                       removes what an installation left in the prefix
#   e2e_browser                      a recorder as the shell's http handler: $E2E_BROWSER_ARGS
#   e2e_start ARGS...                Tidestart.exe ARGS in the background: $E2E_PID
#   e2e_watch                        the robot watching the window into $E2E_WATCH
#   e2e_shot NAME DIR                screenshot of the window: DIR/NAME.png
#   e2e_bold_times CLICK_MS          "STAGE-NUMBER|SECONDS" when each stage label turned bold
E2E_TITLE="Tidewell Downloader"
# The product's build (printed): the shipped i686 program where 32-bit
# programs start here, else the x86_64 build (product_build in lib.sh).
product_build
E2E_EXE=${E2E_EXE:-$PRODUCT_DIR/Tidestart.exe}
E2E_ROBOT=$W64/robot.exe
E2E_INST="$WINEPREFIX/drive_c/Tidewell"
E2E_STAGES=("Analyzing System" "Downloading Files" "Unpacking Files" "Configuring System" "Starting System")
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY

e2e_R() { wine_run 60 "$E2E_ROBOT" "$@" | tr -d '\r'; }
e2e_ms() { date +%s%3N; }

e2e_release() { make_tidewell_release "$@"; }

e2e_serve() {  # ROOT [RATE]
  start_nginx "$1"
  E2E_ROOT=$(readlink -m "$1")
  if [ -n "${2:-}" ]; then
    local d; d=$(dirname "$NGINX_ACCESS_LOG")
    sed -i "s|^    root \(.*\);|    root \1; limit_rate $2;|" "$d/nginx.conf"
    /usr/sbin/nginx -p "$d" -c "$d/nginx.conf" -s reload 2>>"$d/error.log" || fail "nginx reload: $(cat "$d/error.log")"
    sleep 0.5
  fi
  E2E_URL=$NGINX_URL
}

e2e_point() {  # DIR: BINARY_BASE of DIR/downloader.ini at the server's folder of DIR
  local rel=${1#"$E2E_ROOT"}
  sed -i "s|^BINARY_BASE=.*|BINARY_BASE=$E2E_URL$rel/\r|" "$1/downloader.ini"
  sign_manifest "$1/downloader.ini"
}

# e2e_upgrade_release [PAD_KIB]: $served/release2, the release of $rel
# with Tidewell 4.3.0 in place of 4.2.1 (its archive padded with PAD_KIB
# KiB of random bytes, so that its download takes a while), completed,
# signed and pointed at; sets rel2.
e2e_upgrade_release() {
  rel2=$served/release2
  cp -a "$rel" "$rel2"
  rm -f "$rel2"/tidewell-*.zip
  make_tw_archive "$rel2" 4.3.0
  if [ "${1:-0}" != 0 ]; then
    local pad=$TEST_TMP/pad
    mkdir -p "$pad/tidewell-4.3.0"
    head -c $(( $1 * 1024 )) /dev/urandom > "$pad/tidewell-4.3.0/padding.bin"
    (cd "$pad" && zip -q -0 "$rel2/tidewell-4.3.0.zip" tidewell-4.3.0/padding.bin) || fail "cannot pad the 4.3.0 archive"
    rm -rf "$pad"
  fi
  sed -i 's/^FILE_NAME=tidewell-4\.2\.1\.zip/FILE_NAME=tidewell-4.3.0.zip/; s/^FILE_VERSION=4\.2\.1/FILE_VERSION=4.3.0/' "$rel2/downloader.ini"
  "$TIDE_NATIVE_BUILD/tiderelease" make-manifest "$rel2/downloader.ini" "$rel2" >/dev/null || fail "manifest of $rel2 not completed"
  e2e_point "$rel2"
}

# The shell starts the browser on its own: the program may end before the
# recorder has written what it was asked. Waits for it (at most S seconds).
e2e_browser_wait() {  # [S]
  local i
  for i in $(seq 1 $(( ${1:-10} * 10 ))); do [ -s "$E2E_BROWSER_ARGS" ] && return 0; sleep 0.1; done
  return 1
}

e2e_forget() {
  remove_service Tidewell
  local k
  for k in 'HKLM\Software\Quorvan Labs' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' \
           'HKLM\Software\JavaSoft'; do
    wine_run 30 reg delete "$k" /f /reg:64 </dev/null >/dev/null 2>&1 || true
    wine_run 30 reg delete "$k" /f /reg:32 </dev/null >/dev/null 2>&1 || true
  done
  rm -rf "$E2E_INST" "$WINEPREFIX/drive_c/Program Files/Java/jre-standin" \
         "$WINEPREFIX/drive_c/Program Files (x86)/Java/jre-standin"
  find "$WINEPREFIX/drive_c" -type d -name 'Tidewell Web Calendar' -prune -exec rm -rf {} + 2>/dev/null || true
}

e2e_browser() {
  local key='HKCR\http\shell\open\command'
  mkdir -p "$TEST_TMP/browser"
  cp "$W64/standin_tomcat7w.exe" "$TEST_TMP/browser/browser.exe"
  E2E_BROWSER_ARGS=$TEST_TMP/browser/browser.args
  wine_run 30 reg query "$key" /ve 2>/dev/null | tr -d '\r' | awk '/REG_SZ/ {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}' \
    > "$TEST_TMP/browser/old"
  wine_run 30 reg add "$key" /ve /d "\"$(winpath "$TEST_TMP/browser/browser.exe")\" \"%1\"" /f >/dev/null
  on_exit "wine_run 30 reg add '$key' /ve /d \"\$(cat '$TEST_TMP/browser/old')\" /f >/dev/null 2>&1"
}

e2e_start() {  # ARGS...: Tidestart.exe in the background (not through wine_run: $! must be timeout itself)
  timeout --kill-after=5 300 "$WINE64" "$E2E_EXE" "$@" </dev/null >"$TEST_TMP/tidestart.out" 2>&1 &
  E2E_PID=$!
  on_exit "kill $E2E_PID 2>/dev/null"
  e2e_R window --title "$E2E_TITLE" --until "enabled:&Cancel" --timeout 90 > "$TEST_TMP/shown.txt" ||
    fail "the window did not come up: $(cat "$TEST_TMP/tidestart.out")"
}

e2e_watch() {
  E2E_WATCH=$TEST_TMP/watch.$(e2e_ms).log
  timeout 280 "$WINE64" "$E2E_ROBOT" watch --title "$E2E_TITLE" --timeout 270 </dev/null >"$E2E_WATCH" 2>&1 &
  on_exit "kill $! 2>/dev/null"
  local i
  for i in $(seq 1 100); do grep -q '|status|' "$E2E_WATCH" 2>/dev/null && return 0; sleep 0.1; done
  fail "the robot does not watch the window: $(cat "$E2E_WATCH")"
}

# Waits (at most S seconds) until the watch log holds a line matching the
# extended regular expression RE; prints that line.
e2e_wait_watch() {  # RE S
  local i
  for i in $(seq 1 $(( $2 * 20 ))); do
    tr -d '\r' < "$E2E_WATCH" | grep -E -m1 "$1" && return 0
    sleep 0.05
  done
  return 1
}

e2e_shot() {  # NAME DIR
  local g
  g=$(e2e_R window --title "$E2E_TITLE" | head -1 | awk -F'|' '{split($4, r, ","); printf "%dx%d+%d+%d", r[3], r[4], r[1], r[2]}')
  sleep 0.15  # let the last paint reach the screen
  import -window root -crop "$g" +repage "$2/$1.png" || fail "no screenshot $1"
}

# When each stage label turned bold, read from its width: the window sizes
# each label to its text in its font, and bold Tahoma is wider. A label is
# bold while it is wider than the narrowest it has been; "Analyzing System"
# is bold already while hidden, before the click (a negative time).
e2e_bold_times() {  # CLICK_MS
  tr -d '\r' < "$E2E_WATCH" | awk -F'|' -v click="$1" -v names="$(printf '%s|' "${E2E_STAGES[@]}")" '
    BEGIN { n = split(names, st, "|") - 1; for (i = 1; i <= n; i++) idx[st[i]] = i }
    $2 == "control" && ($4 in idx) { k++; t[k] = $1; s[k] = idx[$4]; w[k] = $5; v[k] = $6
      if (!(s[k] in min) || $5 < min[s[k]]) min[s[k]] = $5 }
    END { for (j = 1; j <= k; j++) if (w[j] > min[s[j]] && !(s[j] in done)) {
            done[s[j]] = 1; printf "%d|%.1f\n", s[j], (t[j] - click) / 1000 } }'
}

# The status line's texts in order, each with its time since CLICK_MS.
e2e_status_texts() {  # CLICK_MS
  tr -d '\r' < "$E2E_WATCH" | awk -F'|' -v click="$1" '$2 == "status" && $3 != "" { printf "%.1f|%s\n", ($1 - click) / 1000, $3 }'
}

# The start of an end-to-end test: the programs it needs (else skipped), the
# desktop, the stand-in release with Tidewell 4.2.1 served and pointed at
# (sets served, rel, manifest), nothing left of an earlier installation
# (again at the end), the stand-in browser.
e2e_begin() {
  local f
  for f in "$E2E_EXE" "$E2E_ROBOT" "$W64/standin_tomcat7w.exe"; do
    [ -f "$f" ] || { echo "skipped: $f not built"; exit 77; }
  done
  start_wine_desktop
  served=$TEST_TMP/served
  rel=$served/release
  e2e_release "$rel" 4.2.1 "$PRODUCT_RELEASE_ARCH"
  e2e_serve "$served"
  e2e_point "$rel"
  manifest=$NGINX_URL/release/downloader.ini
  e2e_forget
  on_exit e2e_forget
  e2e_browser
}

agree_and_type() {  # PATH: agrees to the licence and types PATH into the path field
  e2e_R click --title "$E2E_TITLE" --text "I agree to the terms of the license." >/dev/null
  e2e_R window --title "$E2E_TITLE" --until "enabled:&Install" --timeout 20 >/dev/null || fail "Install not enabled"
  e2e_R type --title "$E2E_TITLE" --class-of-control Edit --text "$1" >/dev/null || fail "cannot type '$1'"
}


# Host path of a Windows path on drive C: of the prefix (as written).
e2e_host() { local p=${1#[Cc]:}; echo "$WINEPREFIX/drive_c${p//\\//}"; }
# Whether a Windows path on drive C: names an existing file; like Windows,
# without regard to letter case.
e2e_exists() {
  local h; h=$(e2e_host "$1")
  case $1 in [Zz]:*) h=${1#?:}; h=${h//\\//};; esac
  [ -e "$h" ] || [ -n "$(find "$WINEPREFIX/drive_c" -ipath "$h" -print -quit 2>/dev/null)" ]
}

# The road a first installation took on this 64-bit prefix, whichever build
# ran (the shipped 32-bit program under WOW64, the x86_64 build natively):
# JREx64 and TOMCATx64 fetched, never JRE and TOMCAT; "Arch" x64; the
# product's keys in the 64-bit view only (a 32-bit process must ask for
# it); the .x64 redirector; the service's ImagePath on the installation's
# x86_64 server program; the runtime in the 64-bit view; the shortcuts'
# targets in the installation. Prints one line per check; fails at the
# first that does not hold. Reads the nginx log of the run
# (NGINX_ACCESS_LOG) and the release folder $rel.
e2e_road() {
  local key='HKLM\Software\Quorvan Labs\Tidewell' fetched want v img prog home menu f t n=0 announced downloader=""
  announced=$(awk -F= '/^\[/ {s = $0} s ~ /^\[DOWNLOADER\]/ && $1 == "FILE_NAME" {print $2}' "$rel/downloader.ini" | tr -d '\r')
  fetched=$(grep -o '"GET /[^ ]*' "$NGINX_ACCESS_LOG" | sed 's|.*/||' | grep -v '^downloader\.ini' \
    | grep -vxF "${announced:-downloader.ini}" | sort -u | tr '\n' ' ')
  local sections="JREx64 UNZIP CATALINA_BASE TOMCATx64 TW"
  want=$(for f in $sections; do
           awk -F= -v s="[$f]" '{sub(/\r$/, "")} /^\[/ {in_s = ($0 == s)} in_s && $1 == "FILE_NAME" {print $2}' "$rel/downloader.ini"
         done | sort | tr '\n' ' ')
  [ "$fetched" = "$want" ] || fail "road: components fetched: $fetched (expected $want)"
  echo "road: components fetched: $fetched(sections ${sections// /, })"
  echo "road: UNZIP.EXE run from the release: $(file -b "$E2E_INST/UNZIP.EXE" | cut -d, -f1)"
  [ "$(reg_query 64 "$key" Arch)" = x64 ] || fail "road: Arch is '$(reg_query 64 "$key" Arch)' in the 64-bit view, not x64"
  [ -z "$(reg_query 32 "$key" AppPath)" ] || fail "road: the product's key was written in the 32-bit view"
  [ "$(reg_query 64 "$key" AppPath)" = 'C:\Tidewell\' ] || fail "road: AppPath in the 64-bit view: $(reg_query 64 "$key" AppPath)"
  v=$(reg_query 64 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' DisplayVersion)
  [ -n "$v" ] || fail "road: no uninstall entry in the 64-bit view"
  [ -z "$(reg_query 32 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' DisplayVersion)" ] ||
    fail "road: an uninstall entry in the 32-bit view"
  echo "road: Arch x64; AppPath, Version and the uninstall entry (DisplayVersion $v) in the 64-bit view, none in the 32-bit view"
  cmp -s "$E2E_INST/TCBase/bin/native/isapi_redirect.dll" "$E2E_INST/TCBase/bin/native/isapi_redirect.dll.x64" ||
    fail "road: isapi_redirect.dll is not the .x64 one: $(cat "$E2E_INST/TCBase/bin/native/isapi_redirect.dll" 2>&1)"
  echo "road: redirector: isapi_redirect.dll is isapi_redirect.dll.x64"
  img=$(reg_query 64 'HKLM\System\CurrentControlSet\Services\Tidewell' ImagePath)
  prog=$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$img")
  [ "${prog,,}" = 'c:\tidewell\apache-tomcat-standin\bin\tomcat7.exe' ] || fail "road: service ImagePath: $img"
  grep -q '^PE32+ .*x86-64' <(file -b "$(e2e_host "$prog")") || fail "road: the service's program is not x86_64: $(file -b "$(e2e_host "$prog")")"
  echo "road: service ImagePath $img ($(file -b "$(e2e_host "$prog")" | cut -d, -f1))"
  home=$(reg_query 64 'HKLM\Software\JavaSoft\Java Runtime Environment\1.8' JavaHome)
  [ -n "$home" ] && grep -q '^PE32+' <(file -b "$(e2e_host "$home")/bin/java.exe") ||
    fail "road: no x86_64 runtime registered in the 64-bit view (JavaHome '$home')"
  echo "road: runtime: JavaHome $home in the 64-bit view, its java.exe x86_64"
  menu=$(reg_query 64 "$key" StartMenuIcon)
  [ -n "$menu" ] || fail "road: no StartMenuIcon"
  menu=$(e2e_host "${menu%\\*}")
  for f in "$menu"/*.lnk; do
    t=$(wine_run 60 "$W64/service_shortcuts.exe" link "$(winpath "$f")" </dev/null | tr -d '\r' | sed -n 's/^target=//p') ||
      fail "road: service_shortcuts.exe could not read $(basename "$f") (it failed or timed out)"
    [ -n "$t" ] && e2e_exists "$t" || fail "road: $(basename "$f") points at '$t', which does not exist"
    echo "road: shortcut $(basename "$f") -> $t"
    [ "$(basename "$f")" = "Tidewell Downloader.lnk" ] && downloader=$t
    n=$((n + 1))
  done
  [ "$n" -ge 4 ] || fail "road: only $n shortcuts in $menu"
  [ "$downloader" = "${E2E_RAN:-$(winpath "$E2E_EXE")}" ] || fail "road: Tidewell Downloader.lnk points at '$downloader', not at the installer that ran"
}
