#!/usr/bin/env bash
# Runs the win64 build's test suite under wine64: every test program of
# build-win64 once (one Wine start per program rather than per test), then
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
while IFS= read -r program; do
  name=$(basename "$program" .exe)
  if ! /usr/lib/wine/wine64 "$program" --gtest_brief=1 ${1:+--gtest_filter="$1"} \
      --gtest_output="xml:Z:$results/$name.xml" >"$results/$name.log" 2>&1; then
    echo "test-windows: $name failed:" >&2
    grep -E '^\[  FAILED  \]|Failure|error' "$results/$name.log" | head -n 20 >&2 || true
    status=1
  fi
  [ -f "$results/$name.xml" ] || { echo "test-windows: $name wrote no results" >&2; status=1; }
done < <(find "$build/tests" -name '*_test.exe' | sort)
/usr/lib/wine/wineserver -w

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
