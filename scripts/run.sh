#!/usr/bin/env bash
# Installs what is needed, builds, writes the bundled sample company if it is not
# there yet, and starts the program on it. The program keeps its state files
# ("DataPath.kxi", "1stskin.kxi", "Output.txt") in its current folder, sample/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
root=$(pwd)
mkdir -p sample
if [ ! -f sample/company/customer.dat ]; then
  rm -rf sample/company
  build/tools/mkcompany sample/company --customers 250 --journal-rows 4000 --seed 7
fi
cd sample
[ -s DataPath.kxi ] || printf '%s' "$root/sample/company" > DataPath.kxi
[ -f 1stskin.kxi ] || printf '%s' "grey.skn" > 1stskin.kxi
exec "$root/build/app/openinvoice"
