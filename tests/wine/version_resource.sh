# The product is a 32-bit GUI program with its version resource and manifest.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
out=$(file "$W32/Tidestart.exe")
<<<"$out" grep -q 'PE32 executable (GUI) Intel 80386' || fail "not a 32-bit GUI program: $out"
# Only system DLLs are imported (static runtime).
imports=$(i686-w64-mingw32-objdump -p "$W32/Tidestart.exe" | awk '/DLL Name/ {print tolower($3)}')
for d in $imports; do
  case "$d" in libstdc++*|libgcc*|libwinpthread*) fail "ships a runtime DLL: $d";; esac
done
pass "PE32 GUI, static runtime"
# Shipped stripped: no symbol table and no debug sections; the symbols are
# kept beside it in Tidestart.debug.
headers=$(i686-w64-mingw32-objdump -h "$W32/Tidestart.exe")
<<<"$headers" grep -q '\.debug_' && fail "Tidestart.exe carries debug sections"
[ -n "$(i686-w64-mingw32-nm "$W32/Tidestart.exe" 2>/dev/null)" ] && fail "Tidestart.exe carries a symbol table"
[ -s "$W32/Tidestart.debug" ] || fail "no Tidestart.debug beside it"
pass "stripped ($(stat -c %s "$W32/Tidestart.exe") bytes; symbols in Tidestart.debug)"
# Every function of a delay-loaded DLL that the program uses is reached
# through its thunk, which loads the DLL: a thunk the linker dropped leaves
# the function at address 0, and the first call jumps there.
syms=$(i686-w64-mingw32-nm "$W32/Tidestart.debug")
used=0 unbound=""
for f in $(cat "$W32"/delayload/*.def | awk 'NR > 0 && $1 ~ /@[0-9]+$/ {print $1}'); do
  grep -q " I __imp__$f\$" <<<"$syms" || continue
  used=$((used + 1))
  grep -q " T _$f\$" <<<"$syms" || unbound+="$f "
done
[ "$used" -gt 0 ] || fail "no delay-loaded function found in Tidestart.debug"
[ -z "$unbound" ] || fail "delay-loaded functions without their thunk (a call jumps to 0): $unbound"
pass "the $used delay-loaded functions the program calls go through their thunks"
# The test builds trust the public test release key: the version resource
# says so (SpecialBuild, with the VS_FF_SPECIALBUILD flag), where Explorer's
# file properties show it.
special=$(strings -el "$W32/Tidestart.exe" | grep -A1 -x SpecialBuild | tail -1)
[ "$special" = "Test build: trusts the public test release key; not for release" ] ||
  fail "no SpecialBuild text in the version resource: '$special'"
pass "SpecialBuild: $special"
