#!/usr/bin/env bash
# Runs the Linux tools (in $1) and the Windows tools (in $2, under Wine) on the same
# input and compares what they write by digest: btrexport --raw and --info (apart
# from its "reads:" line, which tells how the file is read) over every corpus file,
# with its messages and exit codes, the same paths given with backslashes (a file a
# folder), every table of the corpus dictionaries as CSV, and mkcompany's company
# files with btrexport's CSV of each. Prints each difference (both outcomes) and a
# summary; exits non-zero on any difference. A Windows run that differs runs again
# (Wine sometimes fails a start), and one that then agrees is noted, not counted.
set -uo pipefail
cd "$(dirname "$0")/.."
linux=$1 win=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
compared=0 differing=0

# One run (its files in folder $1): its stdout digest, stderr and exit code, as one text.
outcome() {
  local out=$1/out err=$1/err code=0
  shift
  "$@" >"$out" 2>"$err" || code=$?
  case " $* " in *" --info "*) grep -v '^reads: ' "$out" >"$out.kept"; mv "$out.kept" "$out" ;; esac
  # A path given with backslashes is named so in messages: compared as slashes.
  [ -z "${slashes:-}" ] || { tr '\\' / <"$err" >"$err.kept"; mv "$err.kept" "$err"; }
  printf 'exit %s\nstdout %s\nstderr %s\n' "$code" "$(sha256sum <"$out" | cut -d' ' -f1)" "$(cat "$err")"
}

# Compares a Linux run with a Windows run, two comparisons at a time (most of the
# time goes on starting Wine processes); a difference is noted in the comparison's
# own folder and told at the end.
running=0
same() {  # label, Linux command..., --, Windows command...
  local label=$1; shift
  local a=() b=()
  while [ "$1" != -- ]; do a+=("$1"); shift; done
  shift
  b=("$@")
  compared=$((compared + 1))
  local job=$work/$(printf 'job%05d' "$compared")
  mkdir -p "$job/linux" "$job/windows"
  # Wine now and then fails to start a program among many; a Windows run that
  # differs runs once more, and one that then agrees is told as a note.
  ( l=$(outcome "$job/linux" "${a[@]}") w=$(outcome "$job/windows" "${b[@]}")
    [ "$l" = "$w" ] && exit 0
    again=$(outcome "$job/windows" "${b[@]}")
    if [ "$l" = "$again" ]; then
      printf 'note: %s differed under Wine once, then agreed; the first Windows run:\n%s\n' \
        "$label" "$w" >"$job/note"
    else
      printf 'differs: %s\n  Linux:\n%s\n  Windows:\n%s\n' "$label" "$l" "$again" >"$job/differs"
    fi ) &
  running=$((running + 1))
  if [ "$running" -ge 2 ]; then wait -n; running=$((running - 1)); fi
}

while IFS= read -r f; do
  back=${f//\//\\}
  for mode in --raw --info; do
    same "btrexport $mode $f" "$linux/btrexport" $mode "$f" -- wine "$win/btrexport.exe" $mode "$f"
  done
  # Backslashes, once a folder.
  folder=${f%/*}
  if [ "$folder" != "${lastFolder:-}" ]; then
    slashes=1 same "btrexport --raw $back" "$linux/btrexport" --raw "$f" -- wine "$win/btrexport.exe" --raw "$back"
    lastFolder=$folder
  fi
done < <(find ../shared/btrieve/corpus -type f | LC_ALL=C sort)

# The corpus dictionaries: the list, then each table's CSV.
ddf() {  # folder, options...
  local dir=$1; shift
  same "btrexport --ddf $dir --list" "$linux/btrexport" --ddf "$dir" --list "$@" -- \
    wine "$win/btrexport.exe" --ddf "$dir" --list "$@"
  local table
  while IFS=, read -r table _; do
    same "btrexport --ddf $dir --table $table" "$linux/btrexport" --ddf "$dir" --table "$table" "$@" -- \
      wine "$win/btrexport.exe" --ddf "$dir" --table "$table" "$@"
  done < <("$linux/btrexport" --ddf "$dir" --list "$@" 2>/dev/null | tail -n +2 | tr -d '\r')
}
corpus=../shared/btrieve/corpus
ddf $corpus/exchequer/ENTRPRSE-DDF --data $corpus/exchequer/BaseDemo
ddf $corpus/exchequer/UDF-DDFs
ddf $corpus/doclife --encoding CP866
ddf $corpus/actianui

# A sample company written by each mkcompany, then read by each btrexport.
for format in 6 8; do
  "$linux/mkcompany" "$work/linux-$format" --customers 60 --journal-rows 500 --seed 7 --format $format >/dev/null
  wine "$win/mkcompany.exe" "$work/windows-$format" --customers 60 --journal-rows 500 --seed 7 --format $format >/dev/null
  for name in customer journal permiss; do
    compared=$((compared + 1))
    if ! cmp -s "$work/linux-$format/$name.dat" "$work/windows-$format/$name.dat"; then
      differing=$((differing + 1))
      echo "differs: mkcompany --format $format $name.dat"
    fi
    same "btrexport --layout $name (format $format)" \
      "$linux/btrexport" --layout $name "$work/linux-$format/$name.dat" -- \
      wine "$win/btrexport.exe" --layout $name "$work/linux-$format/$name.dat"
  done
done

# Messages and exit codes of refusals.
same "btrexport without arguments" "$linux/btrexport" -- wine "$win/btrexport.exe"
same "btrexport --raw of a missing file" "$linux/btrexport" --raw missing.dat -- wine "$win/btrexport.exe" --raw missing.dat
same "btrexport --raw of a folder" "$linux/btrexport" --raw ../shared -- wine "$win/btrexport.exe" --raw ../shared
same "btrexport --layout of an unknown layout" "$linux/btrexport" --layout nothing x.dat -- \
  wine "$win/btrexport.exe" --layout nothing x.dat

wait
cat "$work"/job*/note 2>/dev/null
for d in "$work"/job*/differs; do
  [ -f "$d" ] || continue
  cat "$d"
  differing=$((differing + 1))
done
echo "compare-windows-output: $compared outputs compared, $differing differ"
[ "$differing" -eq 0 ]
