# The service manager and the environment probes (64-bit build): a service of
# our own created with sc from a batch file, started and stopped through
# TServiceManager; a service that is not installed (recorded, and the real
# box read by the dialog robot); ports, version, file release; ServerURL with
# the prefix set to Windows XP.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
need_display

name=TidestartTestSvc$$
port=$(free_port)
svc=$(winpath "$W64/tidesvc.exe")
cat > "$TEST_TMP/create.bat" <<'BAT'
@sc create %1 binPath= "%2 %3" start= demand
BAT
sed -i 's/$/\r/' "$TEST_TMP/create.bat"
on_exit "wine_run 30 net stop $name >/dev/null 2>&1; wine_run 30 sc delete $name >/dev/null 2>&1"
(cd "$TEST_TMP" && wine_run 60 cmd /C create.bat "$name" "$svc" "$port") || fail "sc create failed"
image=$(wine_run 60 reg query "HKLM\\System\\CurrentControlSet\\Services\\$name" /v ImagePath | tr -d '\r' \
  | sed -n 's/^ *ImagePath *REG_[A-Z_]* *//p')
[ "$image" = "$svc $port" ] || fail "service not created: ImagePath '$image'"
pass "service $name created from a batch file"

check_run() {  # label, args...
  local label=$1 out; shift
  out=$(wine_run 120 "$W64/sys_service_test.exe" "$@" | tr -d '\r') || { echo "$out"; fail "$label"; }
  echo "$out"
  <<<"$out" grep -q '^0 failure(s)$' || fail "$label: no verdict"
}
check_run "service cases" service "$name" "$port"
check_run "probe cases" probes

# Windows XP for one run; the prefix's version setting is put back at once.
wine_run 30 reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null
on_exit "wine_run 30 reg delete 'HKCU\\Software\\Wine' /v Version /f >/dev/null 2>&1"
out=$(wine_run 120 "$W64/sys_service_test.exe" xp | tr -d '\r') || true
wine_run 30 reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null
echo "$out"
<<<"$out" grep -q '^0 failure(s)$' || fail "ServerURL on Windows XP"
pass "ServerURL on Windows XP"

# The real "Notice" box for error 1060.
expected="Notice|$(wine_run 30 "$W64/sys_service_test.exe" message 1060 | tr -d '\r')|warning
exit|1"
start_wine_desktop
boxes=$(wine_run 120 "$W64/robot.exe" run --timeout 60 -- "$(winpath "$W64/sys_service_test.exe")" open-missing | tr -d '\r')
echo "$boxes"
[ "$boxes" = "$expected" ] || fail "expected:
$expected"
pass "service not installed: one Notice box with the system's text for 1060"
