# A whole self-update through the real main window (the product's build,
# product_build: the first line says which) under Wine, driven by the robot:
# the release announces (DOWNLOADER) the product's own next build,
# Tidestart_next.exe, with a higher version. Install in the running
# installer's window fetches it into the temporary folder under the running
# one's agent name, says "Updated Installer", starts it and ends with 0; the
# new one comes up with the old one's arguments (the same manifest) and
# "/updated", does not update again, and an installation from its window takes this prefix's
# 64-bit road (e2e_road) with every request under its own agent name, its
# copy in the install directory and the uninstall entry naming that copy.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/standins.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/tidewell.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/e2e.sh"
next=$PRODUCT_DIR/Tidestart_next.exe
[ -f "$next" ] || { echo "skipped: $next not built"; exit 77; }
e2e_begin

version_of() { wine_run 30 "$W64/exe_version.exe" "$(winpath "$1")" </dev/null 2>/dev/null | tr -d '\r' | head -1 | cut -d'|' -f2; }
own=$(version_of "$E2E_EXE")
newer=$(version_of "$next")
[ -n "$own" ] && [ "$own" != "$newer" ] && [ "$(printf '%s\n' "$own" "$newer" | sort -V | tail -1)" = "$newer" ] ||
  fail "fixture: Tidestart_next.exe ($newer) is not newer than Tidestart.exe ($own)"
cp "$next" "$rel/Tidestart-next.exe"
printf '%s\r\n' '' '[DOWNLOADER]' 'FILE_NAME=Tidestart-next.exe' "FILE_VERSION=$newer" >> "$rel/downloader.ini"
"$TIDE_NATIVE_BUILD/tiderelease" make-manifest "$rel/downloader.ini" "$rel" >/dev/null || fail "manifest not completed"
sign_manifest "$rel/downloader.ini"
temp=$(wine_run 30 cmd /c 'echo %TMP%' </dev/null 2>/dev/null | tr -d '\r')
ran="$temp\\Tidestart-next.exe"
rm -f "$(e2e_host "$ran")"
on_exit "rm -f '$(e2e_host "$ran")'"

# --- the old installer: fetches the newer one, says so, starts it, ends -----
e2e_start /i "$manifest"
agree_and_type 'C:\Tidewell\'
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
box=$(e2e_R expect --caption "Updated Installer" --timeout 60) || fail "no \"Updated Installer\" box: $(cat "$NGINX_ACCESS_LOG")"
[ "$box" = 'Updated Installer|An updated version of the installer was found.\n\nThe downloader will now re-start.|none' ] ||
  fail "the box: $box"
rc=0; wait "$E2E_PID" || rc=$?
[ "$rc" = 0 ] || fail "the old installer ended with $rc: $(cat "$TEST_TMP/tidestart.out")"
cmp -s "$next" "$(e2e_host "$ran")" || fail "$ran is not the announced installer"
pass "installer $own: \"Updated Installer\" (no icon), $newer fetched into $ran, the old one ended with 0"

# --- the new installer: its own window, the whole installation -------------
e2e_R window --title "$E2E_TITLE" --until "enabled:&Cancel" --timeout 90 >/dev/null || fail "the new installer's window did not come up"
agree_and_type 'C:\Tidewell\'
e2e_R click --title "$E2E_TITLE" --text "&Install" >/dev/null
wine_run 200 "$E2E_ROBOT" wait-gone --title "$E2E_TITLE" --timeout 180 </dev/null >/dev/null ||
  fail "the new installer did not finish: $(tail -3 "$NGINX_ACCESS_LOG")"
e2e_browser_wait 10 || fail "the browser was not asked for the calendar"
# Who asked for what, in order: "FILE AGENT-VERSION".
asked=$(sed -n 's|^"GET /release/\([^ ]*\) .* ua="Tidewell Downloader V \([^"]*\)"$|\1 \2|p' "$NGINX_ACCESS_LOG")
[ "$(wc -l <<< "$asked")" = "$(wc -l < "$NGINX_ACCESS_LOG")" ] || fail "requests without the agent name: $(cat "$NGINX_ACCESS_LOG")"
[ "$(head -5 <<< "$asked")" = "downloader.ini $own
downloader.ini.sig $own
Tidestart-next.exe $own
downloader.ini $newer
downloader.ini.sig $newer" ] || fail "requests: $asked"
[ -z "$(awk -v v="$newer" 'NR > 5 && ($2 != v || $1 == "Tidestart-next.exe")' <<< "$asked")" ] ||
  fail "requests after the update not by $newer, or the installer again: $asked"
cmp -s "$next" "$E2E_INST/Tidestart.EXE" || fail "the install directory's installer is not the new one"
[ "$(reg_query 64 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell' UninstallString)" = '"C:\Tidewell\Tidestart.EXE" /UNINSTALL' ] ||
  fail "UninstallString in the 64-bit view"
[ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" = 4.2.1 ] || fail "Version not 4.2.1"
pass "installer $newer started with /i $manifest: the manifest again and every component under its agent name, not updated again, its copy in C:\\Tidewell\\ and the uninstall entry naming it, Tidewell 4.2.1 installed"
E2E_RAN=$ran e2e_road
pass "the road of the $PRODUCT_BUILD build after the self-update"

# --- unattended: the old run hands over and its exit code is the new one's --
e2e_forget
rm -f "$(e2e_host "$ran")"
log=$TEST_TMP/unattended.log
rc=0; wine_run 280 "$E2E_EXE" /silent /acceptlicense /i "$manifest" '/dir=C:\Tidewell\' "/log=$(winpath "$log")" \
  </dev/null >>"$TEST_TMP/tidestart.out" 2>&1 || rc=$?
[ "$rc" = 0 ] || fail "unattended: exit code $rc: $(tail -n 8 "$log" 2>&1)"
for l in 'message: "Updated Installer": An updated version of the installer was found.' \
         'step: the updated installer ended with exit code 0'; do
  grep -qF "$l" "$log" || fail "unattended: no '$l' in the log: $(cat "$log")"
done
cmp -s "$next" "$E2E_INST/Tidestart.EXE" && [ "$(reg_query 64 'HKLM\Software\Quorvan Labs\Tidewell' Version)" = 4.2.1 ] ||
  fail "unattended: not installed by the new installer: $(tail -n 8 "$log")"
# Two runs in the log: the old one as started, the new one with its words and the mark.
cl=$(sed -n 's/^.* run: command line: //p' "$log" | tr -d '\r')
[ "$(wc -l <<< "$cl")" = 2 ] && [[ $(sed -n 1p <<< "$cl") != *"/updated"* ]] &&
  [[ $(sed -n 2p <<< "$cl") == *" /silent /acceptlicense /i $manifest "*" /updated" ]] ||
  fail "unattended: the command lines of the two runs: $cl"
pass "unattended: installer $own handed over to $newer (its command line ending in /updated), which installed Tidewell 4.2.1; the old run's exit code 0 is the new one's"
