# The dialog robot reads what a message box says (caption, text with its
# line breaks, kind of icon) and presses the buttons it is told to.
source "$TIDE_SOURCE_DIR/tests/wine/harness/lib.sh"
start_wine_desktop
out=$(wine_run 120 "$W64/robot.exe" run --timeout 90 --answers OK,OK,OK,OK,OK,No,Cancel -- \
      "$(winpath "$W64/show_boxes.exe")" warning information error stop none warning:yesno none:okcancel | tr -d '\r') ||
  fail "robot failed: $out"
echo "$out"
expected='Box 1|First line of warning\nC:\path\second line|warning
Box 2|First line of information\nC:\path\second line|information
Box 3|First line of error\nC:\path\second line|error
Box 4|First line of stop\nC:\path\second line|error
Box 5|First line of none\nC:\path\second line|none
Box 6|First line of warning\nC:\path\second line|warning
Box 7|First line of none\nC:\path\second line|none
Answers|OK,OK,OK,OK,OK,No,Cancel|none
exit|7'
[ "$out" = "$expected" ] || fail "robot saw something else; expected:
$expected"
pass "captions, texts, icons and answers"

# expect: waits for a box by caption in any program.
wine_run 60 "$W64/show_boxes.exe" information > /dev/null &
shower=$!
line=$(wine_run 60 "$W64/robot.exe" expect --caption "Box 1" --timeout 30 | tr -d '\r') || fail "expect failed: $line"
[ "$line" = 'Box 1|First line of information\nC:\path\second line|information' ] || fail "expect saw: $line"
line=$(wine_run 60 "$W64/robot.exe" expect --caption Answers --timeout 30 | tr -d '\r') || fail "expect failed: $line"
[ "$line" = 'Answers|OK|none' ] || fail "expect saw: $line"
wait "$shower" || [ $? = 7 ] || fail "show_boxes did not end normally"
# A box that never comes: bounded wait, exit 1.
if wine_run 60 "$W64/robot.exe" expect --caption Nothing --timeout 1 >/dev/null 2>&1; then fail "expect of a missing box succeeded"; fi
pass "expect by caption, bounded"
