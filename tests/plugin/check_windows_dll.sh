#!/usr/bin/env bash
# Reads the export and import tables of a Windows build of Veltora.pcp
# (objdump -p): the export directory names the DLL Veltora.pcp and holds
# exactly the names of plugin/exports.map, each by name; the DLL imports only
# DLLs that every Windows system has, so no compiler runtime has to be shipped.
# Usage: tests/plugin/check_windows_dll.sh build-win32/Veltora.pcp
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
dll=${1:?usage: $0 Veltora.pcp}
dump=$(i686-w64-mingw32-objdump -p "$dll")
status=0
fail() { echo "windows dll: $*" >&2; status=1; }

# The system's own DLLs: the Win32 API sets the plug-in calls and the C
# runtime that is part of Windows itself (msvcrt.dll).
system_dlls="advapi32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll"

format=$(i686-w64-mingw32-objdump -f "$dll" | sed -n 's/.*file format //p')
echo "windows dll: $dll: $format"
name=$(sed -n 's/^Name[[:space:]]\+[0-9a-f]\+[[:space:]]\+//p' <<<"$dump")
[ "$name" = Veltora.pcp ] || fail "export directory names the DLL '$name', not Veltora.pcp"

exported=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]\+\] //p' <<<"$dump" | sort)
expected=$(sed -n '/global:/,/local:/s/^[[:space:]]*\([A-Za-z][A-Za-z0-9_]*\);$/\1/p' \
  "$root/plugin/exports.map" | sort)
if [ "$exported" != "$expected" ]; then
  fail "exports differ from exports.map:"
  diff <(echo "$expected") <(echo "$exported") >&2 || true
fi
echo "windows dll: $(wc -l <<<"$exported") names exported: $(tr '\n' ' ' <<<"$exported")"

imported=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
for dll_name in $imported; do
  [[ " $system_dlls " == *" $dll_name "* ]] || fail "imports $dll_name, which Windows does not ship"
done
echo "windows dll: imports $(tr '\n' ' ' <<<"$imported")"
exit "$status"
