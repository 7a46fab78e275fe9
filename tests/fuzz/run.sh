#!/usr/bin/env bash
# make fuzz: runs each fuzz target of a fuzz build for a number of seconds,
# from its seeds in tests/fuzz/corpus/<target> and what earlier runs found
# (kept in <build>/fuzz/corpus/<target>, never in the tree). A crash, hang or
# leak is kept as a file in <build>/fuzz/crashes/<target>/ and the run ends
# non-zero. Prints, for each target, what it ran and what it found.
#
#   tests/fuzz/run.sh BUILD SECONDS
set -uo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
targets=(settings_reader_fuzz device_plists_fuzz command_line_fuzz macho_parser_fuzz)
failed=0
# Fontconfig (drawing a screenshot finds the font through it) keeps its
# configuration for the life of the process, as the tests' suppressions say;
# any other leak is a finding.
export LSAN_OPTIONS="suppressions=$here/../lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
for target in "${targets[@]}"; do
  work=$build/fuzz/corpus/$target
  crashes=$build/fuzz/crashes/$target
  log=$build/fuzz/$target.log
  mkdir -p "$work" "$crashes"
  dict=()
  case $target in settings_reader_fuzz | device_plists_fuzz) dict=(-dict="$here/plist.dict") ;; esac
  echo "== $target: ${seconds}s (log $log)"
  # Leaks are checked; an input that runs longer than 10 s counts as a hang.
  "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "${dict[@]}" "$work" "$here/corpus/$target" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$work" -type f | wc -l)
  found=$(find "$crashes" -type f | wc -l)
  echo "   ${runs:-0} executions, ${rate:-0} per second, $corpus inputs in the working corpus"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    echo "   FOUND: exit $status, $found file(s) in $crashes:"
    find "$crashes" -type f | sed 's/^/     /'
    grep -m3 -E 'ERROR|SUMMARY|runtime error' "$log" | sed 's/^/     /'
  else
    echo "   no crash, hang or leak"
  fi
done
exit $failed
