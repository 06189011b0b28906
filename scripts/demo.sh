#!/usr/bin/env bash
# Installs what the native build needs, builds it and shows the logger at work
# on the shipped example configuration.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --run
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo --target quorvane-cli

demo=$PWD/demo
mkdir -p "$demo/data"
sed "s|^OutputDriveAndPath=.*|OutputDriveAndPath=$demo/data|" examples/Quorvane.ini >"$demo/Quorvane.ini"
cd "$demo"
echo "== quorvane-cli check $demo/Quorvane.ini"
"$OLDPWD/build/demo/src/cli/quorvane-cli" check && echo
echo "== the configuration as read"
"$OLDPWD/build/demo/src/cli/quorvane-cli" check --json
