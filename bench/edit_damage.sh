#!/usr/bin/env bash
# Edit damage audit. Makes the same two edits (Orientation 6; GPS position
# 48.8584 N 2.2945 E) with the veltora host, exiftool and exiv2 on every EXIF
# JPEG and TIFF of the shared corpus, plus copies of its JFIF camera JPEGs
# with the APP0 segment removed, and counts the files that an edit damaged:
# `exiftool -j -a -u -G1 -n` reads some tag differently afterwards (edited
# tags, IFD0 ModifyDate and file positions excepted), or `exiftool -validate`
# or `exiv2 -pa` reports something new.
#
# usage: bench/edit_damage.sh [--veltora PATH] [--corpus DIR] [--keep DIR]
#   --veltora  the host (default: $VELTORA_HOST, else build/veltora)
#   --corpus   the corpus folder (default: $VELTORA_SHARED_DIR/corpus, else
#              ../shared/corpus beside the repository)
#   --keep     leave the inputs, outputs and tool reports in DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
veltora=${VELTORA_HOST:-$root/build/veltora}
corpus=${VELTORA_SHARED_DIR:+$VELTORA_SHARED_DIR/corpus}
corpus=${corpus:-$root/../shared/corpus}
keep=
while (($#)); do
  case $1 in
    --veltora) veltora=$2; shift 2 ;;
    --corpus) corpus=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "usage: $0 [--veltora PATH] [--corpus DIR] [--keep DIR]" >&2; exit 2 ;;
  esac
done
for tool in exiftool exiv2 perl; do
  command -v "$tool" >/dev/null || { echo "edit_damage: $tool not found" >&2; exit 2; }
done
[[ -x $veltora ]] || { echo "edit_damage: no veltora host at $veltora" >&2; exit 2; }
[[ -f $corpus/MANIFEST.tsv ]] || { echo "edit_damage: no corpus at $corpus" >&2; exit 2; }
veltora=$(cd "$(dirname "$veltora")" && pwd)/$(basename "$veltora")

if [[ -n $keep ]]; then
  work=$keep
  rm -rf "$work" && mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
work=$(cd "$work" && pwd)

# The inputs: the plug-in's EXIF files as they are, the JFIF camera JPEGs as
# copies that start with the EXIF APP1 (every APP0 after SOI cut out).
mkdir "$work/in"
while IFS=$'\t' read -r file _ _ _ _ _ app0 _ _ _ _ note; do
  case $note in camera\;* | tiff\;*) ;; *) continue ;; esac
  if [[ $app0 == yes ]]; then
    perl -0777 -ne '
      exit 1 unless substr($_, 0, 2) eq "\xFF\xD8";
      my $at = 2;
      $at += 2 + unpack("n", substr($_, $at + 2, 2)) while substr($_, $at, 2) eq "\xFF\xE0";
      print "\xFF\xD8", substr($_, $at);' "$corpus/$file" >"$work/in/noapp0_$file"
  else
    cp "$corpus/$file" "$work/in/$file"
  fi
done < <(tail -n +2 "$corpus/MANIFEST.tsv")
mapfile -t inputs < <(cd "$work/in" && ls)
total=${#inputs[@]}

# The edits, one output folder each; a file a tool refuses has no output.
gps_exiv2=(-M"set Exif.GPSInfo.GPSVersionID 2 2 0 0"
  -M"set Exif.GPSInfo.GPSLatitudeRef N" -M"set Exif.GPSInfo.GPSLatitude 48/1 51/1 3024/100"
  -M"set Exif.GPSInfo.GPSLongitudeRef E" -M"set Exif.GPSInfo.GPSLongitude 2/1 17/1 4020/100")
run_edit() {  # tool edit
  local out=$work/$1-$2 f
  mkdir "$out"
  case $1-$2 in
    veltora-orientation)
      (cd "$work/in" && "$veltora" set-orientation 6 --rebuild "${inputs[@]}" --output-dir "$out") \
        >/dev/null 2>&1 || true ;;
    veltora-gps)
      (cd "$work/in" && "$veltora" gps --lat 48.8584 --lon 2.2945 "${inputs[@]}" --output-dir "$out") \
        >/dev/null 2>&1 || true ;;
    exiftool-orientation)
      (cd "$work/in" && exiftool -q -q -o "$out/" -Orientation#=6 "${inputs[@]}" 2>/dev/null) ||
        true ;;
    exiftool-gps)
      (cd "$work/in" && exiftool -q -q -o "$out/" -GPSLatitude=48.8584 -GPSLatitudeRef=N \
        -GPSLongitude=2.2945 -GPSLongitudeRef=E "${inputs[@]}" 2>/dev/null) || true ;;
    exiv2-*)
      local edit=(-M"set Exif.Image.Orientation 6")
      [[ $2 == gps ]] && edit=("${gps_exiv2[@]}")
      for f in "${inputs[@]}"; do
        cp "$work/in/$f" "$out/$f"
        exiv2 "${edit[@]}" "$out/$f" >/dev/null 2>&1 || rm -f "$out/$f"
      done ;;
  esac
}

# What the readers say of every file of a folder: the tag dump and the
# -validate warnings in one JSON file each (exiftool runs once per folder),
# exiv2's complaints in one file per picture.
read_folder() {  # dir
  local dir=$1 f
  mkdir "$dir/.read"
  mapfile -t files < <(cd "$dir" && ls)
  ((${#files[@]})) || return 0
  (cd "$dir" && exiftool -j -a -u -G1 -n "${files[@]}" >.read/tags.json 2>/dev/null) || true
  (cd "$dir" && exiftool -j -validate -warning -error -a -G4 "${files[@]}" \
    >.read/validate.json 2>/dev/null) || true
  for f in "${files[@]}"; do
    { (cd "$dir" && exiv2 -pa "$f" 2>&1 >/dev/null) || echo "exit $?"; } >"$dir/.read/$f.exiv2"
  done
}

# Compares one output folder with the inputs; prints the tool's line and the
# damaged files, and appends the damaged names to $work/<tool>.damaged.
compare='
use strict;
my ($label, $edit, $in, $out, $list, $total) = @ARGV;
sub objects {  # exiftool -j output: file -> [ "key\tvalue", ... ]
  my %by_file;
  open(my $fh, "<", $_[0]) or return {};
  my $file;
  while (<$fh>) {
    next unless /^\s*"([^"]+)": (.*?),?$/;
    if ($1 eq "SourceFile") { ($file = $2) =~ s/^"|"$//g; next; }
    push @{$by_file{$file}}, [$1, $2];
  }
  return \%by_file;
}
sub position {
  my ($group, $name) = split /:/, $_[0], 2;
  return 1 if $group =~ /^(File|System|ExifTool|Composite)$/;
  return 1 if $name =~ /(Offset|Offsets|Start|Pointer)$/;
  return 1 if $_[0] eq "IFD0:ModifyDate";
  return 1 if $edit eq "orientation" && $_[0] =~ /^IFD[01]:Orientation$/;
  return 1 if $edit eq "gps" && $group eq "GPS";
  return 0;
}
sub slurp { open(my $fh, "<", $_[0]) or return ""; local $/; return <$fh>; }
my ($tags_in, $tags_out) = (objects("$in/.read/tags.json"), objects("$out/.read/tags.json"));
my ($val_in, $val_out) = (objects("$in/.read/validate.json"), objects("$out/.read/validate.json"));
my ($edited, @damaged) = (0);
for my $f (sort keys %$tags_out) {
  ++$edited;
  my %count;
  $count{"$_->[0]\t$_->[1]"}++ for grep { !position($_->[0]) } @{$tags_in->{$f}};
  $count{"$_->[0]\t$_->[1]"}-- for grep { !position($_->[0]) } @{$tags_out->{$f}};
  my %keys;
  $keys{(split /\t/)[0]} = 1 for grep { $count{$_} } keys %count;
  my @why = sort keys %keys;
  my %old = map { $_->[1] => 1 } grep { $_->[0] =~ /:(Warning|Error)$/ } @{$val_in->{$f}};
  push @why, map { "validate " . $_->[1] }
      grep { $_->[0] =~ /:(Warning|Error)$/ && !$old{$_->[1]} } @{$val_out->{$f}};
  my %err = map { $_ => 1 } split /\n/, slurp("$in/.read/$f.exiv2");
  push @why, map { "exiv2 $_" } grep { !$err{$_} } split /\n/, slurp("$out/.read/$f.exiv2");
  next unless @why;
  my $more = @why > 4 ? " (+" . (@why - 4) . " more)" : "";
  push @damaged, "  $f: " . join(", ", @why[0 .. ($#why < 3 ? $#why : 3)]) . $more;
  open(my $fh, ">>", $list) or die; print $fh "$f\n";
}
printf "%-8s %-11s edited %d of %d, damaged %d\n", $label, $edit, $edited, $total, scalar @damaged;
print "$_\n" for @damaged;
'

read_folder "$work/in"
for tool in veltora exiftool exiv2; do
  : >"$work/$tool.damaged"
  for edit in orientation gps; do
    run_edit "$tool" "$edit"
    read_folder "$work/$tool-$edit"
    perl -e "$compare" "$tool" "$edit" "$work/in" "$work/$tool-$edit" "$work/$tool.damaged" \
      "$total"
  done
done
damaged() { sort -u "$work/$1.damaged" | wc -l; }
echo "veltora damaged $(damaged veltora) of $total, exiftool $(damaged exiftool) of $total," \
  "exiv2 $(damaged exiv2) of $total"
