#!/usr/bin/env bash
# Runs the win64 build's test suite under wine64: every test program of
# build-win64 once (one Wine start per program rather than per test; a
# program that ends before reporting any test is shown and run once more), then
# the counts: tests passed of tests run, every skipped test with its reason,
# and the test programs the Windows build leaves out with theirs
# (build-win64/tests/not_built_on_windows.txt).
# Usage: scripts/test-windows.sh [gtest filter]   (after build-windows.sh win64)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build-win64
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
export VELTORA_BUILD_DIR=$build
results=$build/test-results
rm -rf "$results"
mkdir -p "$results"
start=$SECONDS
status=0
# The prefix is made, and everything its first start launches has ended,
# before any test program runs; then one Wine server serves them all.
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k' EXIT

# run_program EXE NAME: one run of a test program, its results in NAME.xml.
run_program() {
  rm -f "$results/$2.xml"
  /usr/lib/wine/wine64 "$1" --gtest_brief=1 ${filter:+--gtest_filter="$filter"} \
    --gtest_output="xml:Z:$results/$2.xml" >"$results/$2.log" 2>&1
}

filter=${1:-}
while IFS= read -r program; do
  name=$(basename "$program" .exe)
  run_program "$program" "$name" && continue
  code=$?
  if [ ! -f "$results/$name.xml" ] && ! grep -q '^\[  FAILED  \]' "$results/$name.log"; then
    # Ended before its first test reported anything, with no failure of its
    # own: shown in full, then run once more. Tests that fail, or a program
    # that dies twice, fail the run.
    echo "test-windows: $name ended without results (exit $code); its output:" >&2
    tail -n 30 "$results/$name.log" >&2
    cp "$results/$name.log" "$results/$name.first.log"
    if run_program "$program" "$name"; then
      echo "test-windows: $name passed when run again" >&2
      continue
    fi
  fi
  echo "test-windows: $name failed:" >&2
  grep -E '^\[  FAILED  \]|Failure|error' "$results/$name.log" | head -n 20 >&2 || true
  [ -f "$results/$name.xml" ] || echo "test-windows: $name wrote no results" >&2
  status=1
done < <(find "$build/tests" -name '*_test.exe' | sort)

python3 - "$results" "$build/tests/not_built_on_windows.txt" <<'EOF'
import glob, sys, xml.etree.ElementTree as ET
run = passed = failed = 0
skips = []
for path in sorted(glob.glob(sys.argv[1] + "/*.xml")):
    for case in ET.parse(path).getroot().iter("testcase"):
        if case.get("result") == "skipped" or case.find("skipped") is not None:
            note = case.find("skipped")
            reason = (note.get("message") or note.text or "") if note is not None else ""
            reason = reason.strip().splitlines()[-1] if reason.strip() else "(no reason given)"
            skips.append(f'{case.get("classname")}.{case.get("name")}: {reason}')
        elif case.get("status") == "run":
            run += 1
            if case.find("failure") is None:
                passed += 1
            else:
                failed += 1
print(f"test-windows: {passed} of {run} tests passed, {failed} failed, {len(skips)} skipped")
for line in skips:
    print(f"  skipped {line}")
try:
    with open(sys.argv[2]) as not_built:
        lines = [l.strip() for l in not_built if l.strip()]
    print(f"test-windows: {len(lines)} test programs or folders not built for Windows")
    for line in lines:
        print(f"  not built {line}")
except FileNotFoundError:
    pass
EOF
echo "test-windows: wall time $((SECONDS - start)) s"
exit "$status"
