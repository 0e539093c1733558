#!/bin/sh
# Runs a test command with its output going to a file, and streams that file to this script's output
# until the command has ended. Under Wine, a process killed while it starts (before it has told the server
# who it is) never ends: it waits for the server's answer for good and keeps every descriptor it
# inherited. Were one of them ctest's output pipe, ctest would wait for it until the test's timeout
# although the test has ended; a file instead keeps such a process away from the pipe.
out=$(mktemp) || exit 1
"$@" >"$out" 2>&1 </dev/null &
command=$!
tail -s 0.1 -n +1 -f --pid="$command" "$out"
wait "$command"
status=$?
rm -f "$out"
exit "$status"
