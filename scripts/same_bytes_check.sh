#!/usr/bin/env bash
# The same edits with the Linux build (build/veltora) and the Windows build
# (build-win64/veltora.exe under wine64) on every corpus file: the outputs
# must be byte-identical, except for the DateTime an edit stamps with the
# local time (a 19-byte "YYYY:MM:DD HH:MM:SS" that the two runs may write a
# second apart). An edit both builds refuse counts as agreeing when both give
# the same exit status and neither writes a file.
# The edits: orientation rebuild, GPS, capture date (in place on a copy),
# record merge (append), new thumbnail (these five on the JPEG and TIFF
# files), encode with a new EXIF block, and the picture decode to PNG (its
# pixels compared with ImageMagick when the PNG bytes differ).
# Usage: scripts/same_bytes_check.sh [linux-build-dir] [windows-build-dir]
# Prints one line per difference and the counts; exits 1 on any difference.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=$(cd "${1:-build}" && pwd)
windows_build=$(cd "${2:-build-win64}" && pwd)
corpus=$(cd ../shared/corpus && pwd)
work=$(mktemp -d)
export WINEPREFIX=$windows_build/wineprefix WINEDEBUG=-all
# One Wine server for the whole run (hundreds of short programs), stopped
# at the end.
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k; rm -rf "$work"' EXIT

cat >"$work/records.json" <<'EOF'
{"Exif": {"ExposureTime": [1, 250], "FNumber": [56, 10], "ISOSpeedRatings": [200]},
 "Gps": {"GPSLatitudeRef": "N", "GPSLatitude": [[48, 1], [51, 1], [3024, 100]]}}
EOF
thumb_source=$linux_build/veltora-sample.jpg

linux() { "$linux_build/veltora" --plugin "$linux_build/Veltora.pcp" "$@"; }
# Under Wine, paths as a Windows program sees them (drive Z: is the root):
# CLI11 on Windows would take a bare "/path" for a "/option".
windows() {
  local args=()
  for a in "$windows_build/veltora.exe" --plugin "$windows_build/Veltora.pcp" "$@"; do
    [[ "$a" == /* ]] && a="Z:$a"
    args+=("$a")
  done
  /usr/lib/wine/wine64 "${args[@]}"
}

# edit NAME IN OUT-EXTENSION ARGS...: one edit on both builds, each into its
# own folder; "@OUT" in ARGS stands for the output path.
run_edit() {
  local side=$1 name=$2 in=$3 ext=$4
  shift 4
  local out=$work/$side/$name$ext args=()
  for a in "$@"; do args+=("${a//@OUT/$out}"); done
  # Each edit writes a new output (-o refuses an existing file); the date is
  # patched in place, on a writable copy (the corpus files are read-only).
  rm -f "$out"
  if [ "$name" = date ]; then install -m 644 "$in" "$out"; fi
  "$side" "${args[@]}" >/dev/null 2>&1 && echo 0 || echo $?
}

# True when two files of one size differ only inside date and time texts
# ("YYYY:MM:DD HH:MM:SS") at the same places in both: an edit may stamp the
# time more than once (DateTime of each directory it writes).
differ_only_in_stamp() {
  local a=$1 b=$2 position
  [ "$(stat -c %s "$a")" = "$(stat -c %s "$b")" ] || return 1
  local positions
  positions=$(cmp -l "$a" "$b" | awk '{print $1 - 1}')
  [ "$(wc -l <<<"$positions")" -le 38 ] || return 1
  for position in $positions; do
    local start=$((position >= 18 ? position - 18 : 0))
    for file in "$a" "$b"; do
      local covered=0 offset
      # The date texts of a window that holds every 19-byte text reaching it.
      for offset in $(dd if="$file" bs=1 skip="$start" count=37 2>/dev/null | tr -c '0-9: ' '.' |
        grep -obE '[0-9]{4}:[0-9]{2}:[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}' | cut -d: -f1); do
        if ((start + offset <= position && position <= start + offset + 18)); then covered=1; fi
      done
      ((covered)) || return 1
    done
  done
}

files=0 compared=0 identical=0 stamped=0 refused=0 differences=0 pixels_equal=0
mkdir -p "$work/linux" "$work/windows"
while IFS=$'\t' read -r name _; do
  [ "$name" = file ] && continue
  in=$corpus/$name
  [ -f "$in" ] || continue
  files=$((files + 1))
  edits=(
    "orientation|.jpg|set-orientation|6|$in|-o|@OUT|--rebuild"
    "gps|.jpg|gps|$in|-o|@OUT|--lat|48.8584|--lon|2.2945|--alt|35"
    "date|.${name##*.}|set-date|2024:05:06 07:08:09|@OUT|--in-place"
    "append|.jpg|append|$in|--from|$work/records.json|-o|@OUT"
    "thumb|.jpg|thumb|$in|-o|@OUT|--from|$thumb_source"
    "encode|.jpg|encode|$in|-o|@OUT|--new-exif|--make|Maker|--model|Model|--date|2024:05:06 07:08:09"
    "decode|.png|decode|$in|-o|@OUT"
  )
  for edit in "${edits[@]}"; do
    IFS='|' read -r -a fields <<<"$edit"
    op=${fields[0]} ext=${fields[1]}
    # The EXIF edits take JPEG and TIFF files; the picture ones every file.
    case "$op:${name,,}" in
      encode:* | decode:* | *.jpg | *.jpeg | *.tif | *.tiff) ;;
      *) continue ;;
    esac
    rm -f "$work"/linux/* "$work"/windows/*
    status_linux=$(run_edit linux "$op" "$in" "$ext" "${fields[@]:2}")
    status_windows=$(run_edit windows "$op" "$in" "$ext" "${fields[@]:2}")
    a=$work/linux/$op$ext b=$work/windows/$op$ext
    compared=$((compared + 1))
    if [ "$status_linux" != "$status_windows" ]; then
      echo "$name $op: exit $status_linux on Linux, $status_windows on Windows"
      differences=$((differences + 1))
    elif [ "$status_linux" != 0 ]; then
      refused=$((refused + 1))
    elif cmp -s "$a" "$b"; then
      identical=$((identical + 1))
      [ "$op" = decode ] && pixels_equal=$((pixels_equal + 1))
    elif [ "$op" != decode ] && differ_only_in_stamp "$a" "$b"; then
      stamped=$((stamped + 1))
    elif [ "$op" = decode ] && [ "$(compare -metric AE "$a" "$b" null: 2>&1 || true)" = 0 ]; then
      pixels_equal=$((pixels_equal + 1))
      echo "$name decode: PNG bytes differ, pixels equal"
    else
      echo "$name $op: outputs differ"
      differences=$((differences + 1))
    fi
  done
done <"$corpus/MANIFEST.tsv"
echo "same bytes: $files corpus files, $compared edits compared: $identical identical," \
  "$stamped identical but for the stamped DateTime, $refused refused alike, $differences different"
echo "same bytes: decoded pictures with equal pixels: $pixels_equal"
[ "$differences" -eq 0 ]
