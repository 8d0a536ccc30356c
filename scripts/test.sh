#!/usr/bin/env bash
# The test command: installs what it needs, then configures, builds and runs every test twice,
# once in an optimised build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
# Last, it builds everything as a Debian package build would (Release with the flags of
# dpkg-buildflags, warnings not errors), to show that a packager's build compiles.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset default
cmake --workflow --preset asan

cmake --preset release \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build --preset release
