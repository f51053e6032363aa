# The product is a 32-bit GUI program with its version resource and manifest.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
out=$(file "$W32/Tidestart.exe")
echo "$out" | grep -q 'PE32 executable (GUI) Intel 80386' || fail "not a 32-bit GUI program: $out"
# Only system DLLs are imported (static runtime).
imports=$(i686-w64-mingw32-objdump -p "$W32/Tidestart.exe" | awk '/DLL Name/ {print tolower($3)}')
for d in $imports; do
  case "$d" in libstdc++*|libgcc*|libwinpthread*) fail "ships a runtime DLL: $d";; esac
done
pass "PE32 GUI, static runtime"
