#!/usr/bin/env bash
# Takes one screenshot of the main window in each shipped skin, for the README:
# docs/skin-grey.png, docs/skin-military.png, docs/skin-zhelezo.png. The program runs
# under a virtual X server in a scratch folder whose first-skin file names the skin,
# on the company folder given, else on a small sample company made with mkcompany.
# Build first (scripts/build.sh).
#   bash scripts/skin-screenshots.sh [company-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --screens
root=$(pwd)
program="$root/build/app/openinvoice"
title="Peachtree Open Invoice Vexel"
[ -x "$program" ] || { echo "build the program first: $program is missing" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
company="${1:-}"
if [ -z "$company" ] && [ -x "$root/build/tools/mkcompany" ]; then
  company="$scratch/company"
  "$root/build/tools/mkcompany" "$company" --customers 40 --journal-rows 300 --seed 7 >/dev/null
fi

for skin in grey military zhelezo; do
  dir="$scratch/$skin"
  mkdir -p "$dir"
  printf '%s' "$skin.skn" > "$dir/1stskin.kxi"
  [ -n "$company" ] && printf '%s' "$company" > "$dir/DataPath.kxi"
  (cd "$dir" && xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" & pid=$!
    for _ in $(seq 100); do
      xwininfo -name "$2" >/dev/null 2>&1 && break
      sleep 0.1
    done
    sleep 1   # let the first paint finish
    import -window "$2" "$3"
    kill "$pid"' _ "$program" "$title" "$root/docs/skin-$skin.png")
  echo "docs/skin-$skin.png"
done
