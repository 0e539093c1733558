#!/bin/sh
# Runs a test command with its output in a file and prints the file once the command has ended.
# Under Wine, a process killed while it starts (before it has told the server who it is) never ends: it
# waits for the server's answer for good and keeps every descriptor it inherited. Were one of them ctest's
# output pipe, ctest would wait for it until the test's timeout although the test has ended.
out=$(mktemp) || exit 1
"$@" >"$out" 2>&1
status=$?
cat "$out"
rm -f "$out"
exit "$status"
