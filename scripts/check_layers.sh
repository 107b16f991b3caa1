#!/usr/bin/env bash
# Fails when a product file includes a header of a layer it may not use.
#
# Layers, bottom up; each may use itself and what its line lists:
#   interface  interface/: result codes and host-boundary types (header-only)
#   bytes      bytes/: the bounds-checked byte view
#   platform   platform/: the operating-system stand-ins
#   exif       exif/: the EXIF reading engine
#   chief      frame/veltora.h: the exports as a host sees them
#   frame      frame/ beside the chief header: format detection, safe replacement,
#              the export guard: what every export stands on
#   imaging    imaging/: bitmaps, codecs, painting
#   query edit create info: the EXIF exports by subject; create stands on
#              edit (the one directory writer, the editor that merges records)
#   top        plugin/: where the exports are assembled
#   host       host/: reaches the plug-in only through the chief header
# It also fails when the chief header's note above an export names a file
# that does not define it, or when an export has no such note.
# Usage: check_layers.sh [project root]
set -u
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"

# The layer a project path belongs to; empty for paths outside the product.
layer_of() {
  case "$1" in
    interface/*) echo interface ;;
    bytes/*) echo bytes ;;
    platform/*) echo platform ;;
    exif/*) echo exif ;;
    frame/veltora.h) echo chief ;;
    frame/*) echo frame ;;
    plugin/*) echo top ;;
    imaging/* | query/* | edit/* | create/* | info/* | host/*) echo "${1%%/*}" ;;
  esac
}

readonly below_exports="chief frame exif platform bytes interface"
declare -A may_use=(
  [interface]=""
  [bytes]=""
  [platform]="interface"
  [exif]="platform bytes interface"
  [chief]="interface"
  [frame]="chief platform bytes interface"
  [imaging]="$below_exports"
  [query]="$below_exports"
  [edit]="$below_exports"
  [create]="edit $below_exports"
  [info]="$below_exports"
  [top]="imaging query edit create info $below_exports"
  [host]="chief interface"
)

status=0
cd "$root" || exit 2
while IFS= read -r file; do
  from="$(layer_of "$file")"
  [[ -n "$from" ]] || continue
  while IFS=: read -r line header; do
    to="$(layer_of "$header")"
    [[ -z "$to" || "$to" == "$from" ]] && continue
    if [[ " ${may_use[$from]} " != *" $to "* ]]; then
      echo "$file:$line: the $from layer may not include $header ($to)" >&2
      status=1
    fi
  done < <(grep -n -o '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' "$file" |
           sed -E 's/^([0-9]+):.*"([^"]*)"$/\1:\2/')
done < <(find interface bytes platform exif frame plugin imaging query edit create info host \
           -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

# frame/veltora.h: "// <file>" (or "// Not defined yet.") above each export.
note=""
while IFS= read -r text; do
  if [[ "$text" =~ ^VELTORA_API[^\(]*[[:space:]\*]([A-Za-z0-9_]+)\( ]]; then
    name="${BASH_REMATCH[1]}"
    if [[ "$note" == "Not defined yet." ]]; then
      if grep -rqs -E "^VELTORA_API[^(]*[ *]$name\(" --include='*.cpp' \
          interface bytes platform exif frame plugin imaging query edit create info; then
        echo "frame/veltora.h: $name is defined now; name its file" >&2
        status=1
      fi
    elif [[ -z "$note" ]] || ! grep -qs -E "^VELTORA_API[^(]*[ *]$name\(" "$note"; then
      echo "frame/veltora.h: $name is not defined in '${note:-(no file named)}'" >&2
      status=1
    fi
  fi
  if [[ "$text" =~ ^//\ (.+)$ ]]; then note="${BASH_REMATCH[1]}"; else note=""; fi
done < frame/veltora.h

[[ $status -eq 0 ]] && echo "layers: every include is allowed; every export's file is named"
exit "$status"
