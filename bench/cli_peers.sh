#!/usr/bin/env bash
# The daily jobs of issue-sized batches, timed for veltora, exiftool and exiv2
# in the same run: each tool is one process per job over the same copies of
# the corpus's JPEG files (1,000 or more), the tools taking turns job by job
# so that a machine loaded by others weighs on all of them alike. Prints one
# row per job and tool: the command, the files it did, seconds, and the
# ratio to exiv2. veltora runs at -j 1 and at -j <cores>.
#
# Usage: bench/cli_peers.sh [--copies N] [--veltora PATH]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
veltora=${VELTORA_HOST:-$root/build/veltora}
corpus=${VELTORA_SHARED_DIR:-$root/../shared}/corpus
copies=12
while (($#)); do
  case $1 in
    --copies) copies=$2; shift 2 ;;
    --veltora) veltora=$2; shift 2 ;;
    *) echo "usage: $0 [--copies N] [--veltora PATH]" >&2; exit 2 ;;
  esac
done
for tool in exiftool exiv2 python3; do
  command -v $tool >/dev/null || { echo "$0: $tool is missing" >&2; exit 2; }
done
cores=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
for ((k = 0; k < copies; k++)); do
  for f in "$corpus"/*.jpg; do cp "$f" "$work/in/${k}_$(basename "$f")"; done
done
cd "$work"
mapfile -t files < <(cd in && ls)
echo "files: ${#files[@]} JPEG copies of $corpus; $(uptime)"

# Seconds of wall time of "$@" (output dropped), in $seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" >"$work/out" 2>"$work/err" || true
  end=$(date +%s.%N)
  seconds=$(echo "$end - $start" | bc)
}
# Files of folder $1 whose exiv2 key $2 reads $3 (any value when $3 is empty).
count_key() {
  (cd "$1" && exiv2 -q -K "$2" -Pv "${files[@]}" 2>/dev/null || true) |
    awk -v want="$3" '{ sub(/^[^ ]+ +/, ""); if (want == "" || $0 == want) n++ } END { print n + 0 }'
}
json_objects_without_error() {
  python3 -c 'import json,sys; print(sum(1 for o in json.load(open(sys.argv[1])) if "Error" not in o))' "$1"
}
exiv2_files_printed() {  # exiv2 prefixes each line with its file when given several
  awk '{ print $1 }' "$1" | sort -u | wc -l
}
fresh() { rm -rf "$work/$1"; cp -r "$work/in" "$work/$1"; }

declare -A ref
row() {  # job tool done seconds command
  printf '%-15s %-12s %6s %8.2f %7s  %s\n' "$1" "$2" "$3" "$4" "${5}" "$6"
}
printf '%-15s %-12s %6s %8s %7s  %s\n' job tool done seconds /exiv2 command
run_job() {  # job: runs exiv2 first (the reference), then the others
  local job=$1 tool cmd done
  for tool in exiv2 veltora-j1 "veltora-j$cores" exiftool; do
    local j=${tool#veltora-j}
    case $job-$tool in
      read-all-exiv2) cmd=(exiv2 -q -pa "${files[@]/#/in/}") ;;
      read-all-veltora*) cmd=("$veltora" info --json -j "$j" in) ;;
      read-all-exiftool) cmd=(exiftool -j -q -q in) ;;
      read-tag-exiv2) cmd=(exiv2 -q -K Exif.Image.Orientation -Pv "${files[@]/#/in/}") ;;
      read-tag-veltora*) cmd=("$veltora" orientation --json -j "$j" in) ;;
      read-tag-exiftool) cmd=(exiftool -j -q -q -Orientation in) ;;
      orientation-exiv2) fresh o; cmd=(exiv2 -q -M "set Exif.Image.Orientation 6" "${files[@]/#/o/}") ;;
      orientation-veltora*) fresh o; cmd=("$veltora" set-orientation 6 -j "$j" o --in-place) ;;
      orientation-exiftool) fresh o; cmd=(exiftool -q -q -overwrite_original -Orientation#=6 o) ;;
      gps-exiv2) fresh o; cmd=(exiv2 -q -M "set Exif.GPSInfo.GPSLatitudeRef N"
                               -M "set Exif.GPSInfo.GPSLatitude 48/1 51/1 3024/100"
                               -M "set Exif.GPSInfo.GPSLongitudeRef E"
                               -M "set Exif.GPSInfo.GPSLongitude 2/1 17/1 4020/100" "${files[@]/#/o/}") ;;
      gps-veltora*) fresh o; cmd=("$veltora" gps --lat 48.8584 --lon 2.2945 -j "$j" o --in-place) ;;
      gps-exiftool) fresh o; cmd=(exiftool -q -q -overwrite_original -GPSLatitude=48.8584 -GPSLatitudeRef=N
                                  -GPSLongitude=2.2945 -GPSLongitudeRef=E o) ;;
    esac
    timed "${cmd[@]}"
    case $job-$tool in
      read-all-exiv2|read-tag-exiv2) done=$(exiv2_files_printed "$work/out") ;;
      read-*-exiftool) done=$(json_objects_without_error "$work/out") ;;
      read-*-veltora*) done=$(json_objects_without_error "$work/out") ;;
      orientation-*) done=$(count_key o Exif.Image.Orientation 6) ;;
      gps-*) done=$(count_key o Exif.GPSInfo.GPSLatitude "") ;;
    esac
    [[ $tool == exiv2 ]] && ref[$job]=$seconds
    local shown="${cmd[*]}"
    row "$job" "$tool" "$done" "$seconds" "$(echo "scale=2; $seconds / ${ref[$job]}" | bc)" \
      "${shown:0:90}"
  done
}
for job in read-all read-tag orientation gps; do run_job "$job"; done
echo "$(uptime)"
