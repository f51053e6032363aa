# DLLs named like ones Tidestart.exe loads, planted beside it (as in a
# Downloads folder), are never loaded. Wine prefers its own built-in DLLs,
# so the test tells it to prefer DLLs found on disk, as Windows does for
# DLLs that are not KnownDLLs; a control program without the hardening
# shows that the plant is noticed.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
source "$TIDE_SOURCE_DIR/tests/wine/harness/testini_fixture.sh"
start_wine_desktop
make_testini_fixture "$TEST_TMP"
dl=$TEST_TMP/Downloads
mkdir -p "$dl"

# 1. Load time: the import table names only DLLs that Windows loads from its
# own folder whatever the search order (KnownDLLs), and comctl32, which the
# manifest redirects to the side-by-side version 6. Everything else
# (version.dll, wininet.dll) is delay-loaded after wWinMain has restricted
# the search to the system folder.
known=" kernel32 ntdll kernelbase user32 gdi32 advapi32 shell32 ole32 oleaut32 comdlg32 shlwapi ws2_32 msvcrt"
known+=" rpcrt4 sechost combase imm32 setupapi psapi normaliz nsi wldap32 imagehlp clbcatq coml2 gdiplus msctf shcore comctl32 "
for exe in "$W32/Tidestart.exe" "$W64/Tidestart.exe"; do
  for d in $(objdump -p "$exe" 2>/dev/null | awk '/DLL Name/ {print tolower($3)}' | sed 's/\.dll$//'); do
    case "$known" in *" $d "*) ;; *) fail "$exe imports $d.dll at load time, before the DLL search is restricted";; esac
  done
done
pass "import tables hold only KnownDLLs and comctl32"

# 2. Control: an unprotected program loads DLLs planted beside it.
plant=(version wininet)
for d in "${plant[@]}"; do cp "$W64/planted_marker.dll" "$dl/$d.dll"; done
marker() { [ -n "$(find "$dl" -maxdepth 1 -iname "$1.dll.loaded")" ]; }  # case as the loader spells it
cp "$W64/dll_probe.exe" "$dl/"
WINEDLLOVERRIDES="mscoree,mshtml=;version,wininet=n,b" wine_run 60 "$dl/dll_probe.exe" || fail "dll_probe.exe failed"
marker version && marker wininet ||
  fail "an unprotected program did not load the planted DLLs: this test could not see a plant"
pass "control: an unprotected program loads planted version.dll and wininet.dll"
find "$dl" -maxdepth 1 -iname '*.loaded' -delete
rm -f "$dl/dll_probe.exe"

# 3. Tidestart.exe beside the same DLLs runs normally and loads none of them.
# Wine's own user32 imports version.dll (Windows' does not), so version.dll
# keeps Wine's order here; its absence from the import table is shown above.
cp "$W64/Tidestart.exe" "$dl/"
out=$(WINEDLLOVERRIDES="mscoree,mshtml=;wininet=n,b" wine_run 120 "$W64/robot.exe" run --timeout 90 -- \
        "$(winpath "$dl/Tidestart.exe")" /testini "$(winpath "$TEST_TMP/mixed.ini")" "$(winpath "$TEST_TMP/files")" |
      tr -d '\r') || fail "robot failed: $out"
echo "$out"
[ "$out" = "$TESTINI_MIXED_EXPECTED" ] || fail "Tidestart.exe did not run normally beside the planted DLLs"
loaded=$(find "$dl" -maxdepth 1 -iname '*.loaded' -printf '%f ')
[ -z "$loaded" ] || fail "Tidestart.exe loaded planted DLLs: $loaded"
pass "Tidestart.exe loads none of the planted DLLs"
