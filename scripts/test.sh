#!/usr/bin/env bash
# The test command: installs what it needs, then configures, builds and runs every test twice,
# once in an optimised build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset default
cmake --workflow --preset asan
