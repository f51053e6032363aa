#!/usr/bin/env bash
# The closing lines of a test run: which build each Windows test ran, or
# why it was skipped (from ctest's log), then "tests: N passed, N failed,
# N skipped". Arguments: ctest's output, its Testing/Temporary/LastTest.log.
out=$1 log=$2
echo
echo "Windows tests: the build each ran, or why it was skipped"
# A skipped test's reason is its last line of output ("skipped: ...").
awk '/^[0-9]+\/[0-9]+ Testing: wine\./ { name = $3; what = ""; last = "" }
     name && /^build: / { what = $0 }
     name && /^<end of output>$/ { if (last ~ /^skipped: /) what = last }
     name { last = $0 }
     name && /^"wine\..*" end time/ { if (what != "") printf "  %-24s %s\n", name, what; name = "" }' \
  "$log" 2>/dev/null | sort || true
skipped=$(sed -n '/^The following tests did not run:/,/^$/p' "$out" | grep -c '(Skipped)' || true)
read -r failed total < <(sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\? failed out of \([0-9]*\)$/\1 \2/p' "$out" | tail -1)
echo "tests: $(( ${total:-0} - ${failed:-0} - skipped )) passed, ${failed:-0} failed, $skipped skipped"
