#!/usr/bin/env bash
# The test command: installs what it needs, then configures, builds and runs every test twice,
# once in an optimised build and once under AddressSanitizer and UndefinedBehaviorSanitizer.
# Then it cross-compiles the Windows build with mingw-w64 and runs its tests under Wine, in a Wine
# prefix made for this run and removed after it. Last, it builds everything as a Debian package
# build would (Release with the flags of dpkg-buildflags, warnings not errors), to show that a
# packager's build compiles, and makes the Debian package from it, checked by lintian and run from
# a scratch root.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --workflow --preset default
cmake --workflow --preset asan

# A fresh Wine prefix, so that nothing from an earlier run or the user's own Wine reaches the
# Windows tests; its server is stopped and the prefix removed however the run ends.
wine_home="$(mktemp -d)"
export QS_WINEPREFIX="$wine_home/prefix"
stop_wine() {
  WINEPREFIX="$QS_WINEPREFIX" wineserver -k > /dev/null 2>&1 || true
  rm -rf "$wine_home"
}
trap stop_wine EXIT
cmake --workflow --preset windows
stop_wine
trap - EXIT

# In a folder of its own (build/deb), so that build/release keeps the layout of `cmake --install`.
cmake --preset release -B build/deb -DQS_DEB_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/ \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build build/deb

# The Debian package of that build; lintian fails the run on any error (the README says what it
# reports besides); then the package is unpacked into a scratch root and its service runs once
# over a demo log.
rm -f build/deb/quillstamp_*.deb
(cd build/deb && cpack -G DEB)
lintian --fail-on error build/deb/quillstamp_*.deb
ctest --test-dir build/deb -R '^packaging\.deb_scratch_root$' --output-on-failure
