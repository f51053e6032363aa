#!/usr/bin/env bash
# Self-update and the uninstall entry under Wine against nginx on
# 127.0.0.1, in the product's build (product_build: the i686 one under
# WOW64 where 32-bit programs start here, which must write the entry in the
# 64-bit view): self_update_test.exe stands in for the installer and
# self_update_next.exe (the same program with a higher version resource) for
# the newer one a release announces. A newer announced installer is
# downloaded into the temporary folder, checked and started ("Updated
# Installer", then the new program's own box) and the old one ends; an
# equal or older one (also one that sorts after the running version as
# text) is not fetched; a newer one that sorts before it as text is; the
# entry holds twelve values in order in the 64-bit view and is not in the
# 32-bit one (the i686 build must ask for the 64-bit view); the installed copy
# started in another letter case copies and writes nothing; a copy that
# fails is shown and the entry still written. The new program gets the old
# one's arguments and "/updated"; a served file that is not the announced
# version is not started ("Notice") and the old one goes on.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
product_build
exe=$PRODUCT_DIR/self_update_test.exe
next=$PRODUCT_DIR/self_update_next.exe
robot=$W64/robot.exe
for f in "$exe" "$next" "$robot"; do [ -f "$f" ] || { echo "skip: $f not built"; exit 77; }; done
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy all_proxy ALL_PROXY no_proxy NO_PROXY
need_display

key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell'
drop_key() { local v; for v in 64 32; do wine_run 60 reg delete "$key" /f "/reg:$v" >/dev/null 2>&1 || true; done; }
# no_entry WHAT VIEW...: no uninstall entry in those registry views.
no_entry() {
  local what=$1 v; shift
  for v in "$@"; do ! wine_run 60 reg query "$key" "/reg:$v" >/dev/null 2>&1 || fail "$what: an uninstall entry in the $v-bit view"; done
}
drop_key
on_exit drop_key
served=$TEST_TMP/served
mkdir -p "$served/bin"
cp "$next" "$served/bin/Tidestart-next.exe"
start_nginx "$served"
export TIDETEST_OUT=$(winpath "$TEST_TMP/out.txt")

version_of() { : > "$TEST_TMP/out.txt"; wine_run 60 "$1" version >/dev/null 2>&1; tr -d '\r' < "$TEST_TMP/out.txt"; }
own=$(version_of "$exe")
newer=$(version_of "$next")
echo "versions: self_update_test $own, self_update_next $newer"
[[ $own =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ && $newer =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "version resources: '$own' '$newer'"
IFS=. read -r a b c d <<< "$newer"
older_text_after="$a.$b.9.$d"   # numerically older than $newer, sorts after it as text
newer_text_before="$a.$b.$c.1$(printf '%0*d' ${#d} 0)"  # numerically newer, sorts before it as text
sorts() { [[ "$1" < "$2" ]]; }
export LC_ALL=C
sorts "$newer" "$older_text_after" && [ "$(printf '%s\n' "$older_text_after" "$newer" | sort -V | head -1)" = "$older_text_after" ] \
  || fail "fixture: $older_text_after is not older than $newer while sorting after it"
sorts "$newer_text_before" "$newer" && [ "$(printf '%s\n' "$newer_text_before" "$newer" | sort -V | head -1)" = "$newer" ] \
  || fail "fixture: $newer_text_before is not newer than $newer while sorting before it"

size=$(stat -c %s "$served/bin/Tidestart-next.exe")
md5=$(md5sum < "$served/bin/Tidestart-next.exe" | cut -d' ' -f1)
sha256=$(sha256sum < "$served/bin/Tidestart-next.exe" | cut -d' ' -f1)
manifest() {  # name, announced version, digest
  printf '%s\r\n' "[GENERAL]" "BINARY_BASE=$NGINX_URL/bin/" "TUTORIAL_URL=http://tidewell.test/tutorial" \
    "SUPPORT_URL=http://tidewell.test/support" "[TW]" "FILE_VERSION=3.4.16" "[DOWNLOADER]" "FILE_VERSION=$2" \
    "FILE_NAME=Tidestart-next.exe" "FILE_SIZE=$size" "FILE_MD5SUM=$3" "FILE_SHA256=$sha256" > "$served/$1.ini"
  sign_manifest "$served/$1.ini"
}
installer_gets() { grep -c 'GET /bin/Tidestart-next.exe ' "$NGINX_ACCESS_LOG" || true; }
# run PROGRAM MANIFEST DIR [ROBOT OPTIONS]: the robot's lines in $boxes, the
# program's in $out.
run() {
  local prog=$1 ini=$2 dir=$3; shift 3
  : > "$TEST_TMP/out.txt"
  wine_run 150 "$robot" run --timeout 120 "$@" -- "$(winpath "$prog")" run /i "$NGINX_URL/$ini.ini" "$dir" \
    > "$TEST_TMP/boxes.txt" 2>"${RUN_STDERR:-/dev/null}" || true
  boxes=$(tr -d '\r' < "$TEST_TMP/boxes.txt")
  out=$(tr -d '\r' < "$TEST_TMP/out.txt")
  printf '%s\n' "$boxes" "$out"
}
has() { grep -qxF -- "$2" <<< "$1" || fail "$3: expected '$2' in:
$1"; }
unix_of() { wine_run 60 winepath -u "$1" 2>/dev/null | tr -d '\r'; }

inst=$TEST_TMP/Inst/Cal
mkdir -p "$inst"
dir=$(winpath "$inst")\\

# 1. A newer installer: downloaded into the temporary folder with its
#    digest checked, the box, the new program starts, the old one ends.
manifest newer "$newer" "$md5"
run "$exe" newer "$dir"
temp=$(sed -n 's/^temp=//p' <<< "$out")
got=$(unix_of "${temp}Tidestart-next.exe")
on_exit "rm -f '$got'"
has "$boxes" 'Updated Installer|An updated version of the installer was found.\n\nThe downloader will now re-start.|none' "newer"
has "$boxes" 'exit|0' "newer: the old program ends"
has "$out" 'result=false' "newer"
has "$out" 'quit=yes' "newer"
wine_run 90 "$robot" expect --caption Started --timeout 60 > "$TEST_TMP/started.txt" 2>/dev/null || true
started=$(tr -d '\r' < "$TEST_TMP/started.txt")
echo "$started"
grep -q "^Started|version $newer|" <<< "$started" || fail "newer: the new program's own box: $started"
grep -qxF "started: ${temp}Tidestart-next.exe version $newer" <(tr -d '\r' < "$TEST_TMP/out.txt") \
  || fail "the started program: $(cat "$TEST_TMP/out.txt")"
# The old one's arguments, then once the mark that keeps it from updating again.
args=$(sed -n 's/^arguments: //p' <(tr -d '\r' < "$TEST_TMP/out.txt"))
[[ $args == "run /i $NGINX_URL/newer.ini "*" /updated" && $args != *"/updated"*"/updated"* ]] \
  || fail "the new program did not get the old one's arguments and /updated: $(cat "$TEST_TMP/out.txt")"
[ "$(installer_gets)" = 1 ] || fail "installer requests: $(cat "$NGINX_ACCESS_LOG")"
grep -qF "ua=\"Tidewell Downloader V $own\"" <(grep 'GET /bin/Tidestart-next.exe ' "$NGINX_ACCESS_LOG") \
  || fail "agent name: $(cat "$NGINX_ACCESS_LOG")"
[ "$(md5sum < "$got" | cut -d' ' -f1)" = "$md5" ] || fail "the file in the temporary folder ($got) is not the served one"
[ ! -e "$inst/Tidestart.EXE" ] || fail "an update copied the old installer into the install directory"
no_entry "an update" 64 32
pass "newer $newer over $own: fetched into $temp (MD5 $md5), 'Updated Installer', the new program started with the old one's arguments and /updated, the old one ended"
rm -f "$got"

# 2. The same version: nothing fetched; copied and registered, twelve
#    values in the 64-bit view, written in order. (Wine keeps a key's values sorted
#    by name, so reg query cannot show the order: Wine's registry trace of
#    the run shows the writes.)
manifest equal "$own" "$md5"
WINEDEBUG=+reg RUN_STDERR=$TEST_TMP/trace.txt run "$exe" equal "$dir" > /dev/null
has "$out" 'result=true' "equal"
[ "$(installer_gets)" = 1 ] || fail "equal version fetched the installer: $(cat "$NGINX_ACCESS_LOG")"
cmp -s "$exe" "$inst/Tidestart.EXE" || fail "the installer copy is not the running program"
names="DisplayName DisplayVersion HelpLink URLInfoAbout InstallLocation Publisher NoModify NoRepair UninstallString DisplayIcon InstallDate QuietUninstallString"
written=$(grep -o 'NtSetValueKey ([^,]*,L"[A-Za-z]*"' "$TEST_TMP/trace.txt" | sed 's/.*L"//; s/"$//' \
  | grep -xF -f <(tr ' ' '\n' <<< "$names") | tail -12 | paste -sd' ')
echo "written: $written"
[ "$written" = "$names" ] || fail "values written in the order '$written'"
wine_run 60 reg query "$key" /reg:64 > "$TEST_TMP/reg.txt" 2>/dev/null || fail "no uninstall entry in the 64-bit view"
entry=$(tr -d '\r' < "$TEST_TMP/reg.txt" | awk '/^    [^ ]/ {sub(/^    /, ""); print}' | sed 's/    /|/g' | sort)
echo "$entry"
expected=$(sort <<EXPECTED
DisplayName|REG_SZ|Tidewell Web Calendar
DisplayVersion|REG_SZ|3.4.16
HelpLink|REG_SZ|http://tidewell.test/tutorial
URLInfoAbout|REG_SZ|http://tidewell.test/support
InstallLocation|REG_SZ|${dir%\\}
Publisher|REG_SZ|Quorvan Labs, Inc.
NoModify|REG_DWORD|0x1
NoRepair|REG_DWORD|0x1
UninstallString|REG_SZ|"${dir}Tidestart.EXE" /UNINSTALL
DisplayIcon|REG_SZ|${dir}Tidestart.EXE,0
InstallDate|REG_SZ|$(date +%Y%m%d)
QuietUninstallString|REG_SZ|"${dir}Tidestart.EXE" /UNINSTALL /SILENT
EXPECTED
)
[ "$entry" = "$expected" ] || fail "uninstall entry:
$(diff <(echo "$expected") <(echo "$entry"))"
no_entry "equal" 32
pass "equal version $own: not fetched; copy made; twelve values, written in order, in the 64-bit view only"

# 3. Running $newer told of $older_text_after (after it as text, older as
#    numbers): not fetched.
manifest older "$older_text_after" "$md5"
run "$next" older "$dir"
has "$out" 'result=true' "older"
[ "$(installer_gets)" = 1 ] || fail "an older version fetched the installer: $(cat "$NGINX_ACCESS_LOG")"
pass "running $newer, announced $older_text_after: not fetched"

# 4. Running $newer told of $newer_text_before (before it as text, newer as
#    numbers): fetched; the served file fails its digest, so the box of the
#    downloader, the file is gone and this installer goes on.
manifest textbefore "$newer_text_before" 0123456789abcdef0123456789abcdef
run "$next" textbefore "$dir"
[ "$(installer_gets)" = 2 ] || fail "a newer version was not fetched: $(cat "$NGINX_ACCESS_LOG")"
grep -qi '^Notice|It looks like the file you downloaded was corrupted during the transfer.\\n\\nThe computed MD5Sum is '"$md5"'\\n' <<< "$boxes" \
  || fail "digest mismatch box: $boxes"
[ ! -e "$got" ] || fail "the corrupt download stayed in the temporary folder"
has "$out" 'result=true' "digest mismatch"
cmp -s "$next" "$inst/Tidestart.EXE" || fail "after a failed update the running installer was not copied"
pass "running $newer, announced $newer_text_before: fetched, digest mismatch shown, this installer went on"

# 4b. The same with the right digest: the served file is $newer, not the
#     announced $newer_text_before, so it is not started (it would find
#     itself outdated and update again); a "Notice" box names both versions
#     and this installer goes on.
manifest mismatch "$newer_text_before" "$md5"
run "$next" mismatch "$dir"
[ "$(installer_gets)" = 3 ] || fail "the mismatching installer was not fetched: $(cat "$NGINX_ACCESS_LOG")"
grep -qF "Notice|The updated installer ${temp}Tidestart-next.exe is version $newer, but the release announces version $newer_text_before.\n\nIt is not started; the installation goes on with this installer.|" <<< "$boxes" \
  || fail "version mismatch box: $boxes"
! grep -q '^Updated Installer|' <<< "$boxes" || fail "version mismatch: 'Updated Installer' shown: $boxes"
! grep -q '^Started|' <<< "$boxes" || fail "version mismatch: the file was started: $boxes"
has "$out" 'result=true' "version mismatch"
has "$out" 'quit=no' "version mismatch"
! grep -q '^started: ' <<< "$out" || fail "version mismatch: the file was started: $out"
cmp -s "$next" "$inst/Tidestart.EXE" || fail "after a version mismatch the running installer was not copied"
rm -f "$got"
pass "running $newer, announced $newer_text_before, served $newer: not started, 'Notice' names both versions, this installer went on"

# 5. The installed copy, with the install directory recorded in other
#    letters: no copy, no entry.
drop_key
lower=$(tr 'A-Z' 'a-z' <<< "$dir")
before=$(stat -c '%i %Z %Y' "$inst/Tidestart.EXE")
manifest same "$newer" "$md5"
run "$inst/Tidestart.EXE" same "$lower"
self=$(sed -n 's/^self=//p' <<< "$out")
[ "$self" != "${lower}Tidestart.EXE" ] && [ "$(tr 'A-Z' 'a-z' <<< "$self")" = "$(tr 'A-Z' 'a-z' <<< "${lower}Tidestart.EXE")" ] \
  || fail "the running path '$self' and the recorded '${lower}Tidestart.EXE' should differ only in case"
has "$out" 'result=true' "installed copy"
[ "$(stat -c '%i %Z %Y' "$inst/Tidestart.EXE")" = "$before" ] || fail "the installed copy was rewritten"
no_entry "the installed copy" 64 32
pass "installed copy $self with AppPath $lower: nothing copied, no entry"

# 6. A copy that fails (a folder stands where the copy goes): a "Notice"
#    box names the target; the entry is written all the same.
bad=$TEST_TMP/Inst/Bad
mkdir -p "$bad/Tidestart.EXE"
baddir=$(winpath "$bad")\\
run "$exe" equal "$baddir"
grep -qF "Notice|The installer could not be copied to ${baddir}Tidestart.EXE:" <<< "$boxes" || fail "copy failure box: $boxes"
has "$out" 'result=true' "failed copy"
[ "$(reg_query 64 "$key" UninstallString)" = "\"${baddir}Tidestart.EXE\" /UNINSTALL" ] || fail "entry after a failed copy"
pass "failed copy: 'Notice' names ${baddir}Tidestart.EXE, entry written"
