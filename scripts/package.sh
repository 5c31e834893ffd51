#!/usr/bin/env bash
# Builds the Debian package: build/package/zembra_<version>_<arch>.deb, and prints its path
# (the only line on standard output; the build talks on standard error).
# Run as root (or with sudo) from the checkout on a fresh Debian 12 machine: it installs
# what is needed (scripts/setup.sh), builds a Release in build-package/ through ccache and
# packs what `cmake --install` installs, with the service and maintainer scripts of
# packaging/, through CPack's DEB generator (Depends from dpkg-shlibdeps).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/scripts/setup.sh" >&2

dir=build-package
out=build/package
# Debian's hardening flags (dpkg-buildflags, with bindnow) at -O2 as Debian builds: GCC 12 at
# CMake's Release -O3 reports a false -Wrestrict inside libstdc++'s string code.
cflags="-O2 -DNDEBUG -fstack-protector-strong -Wformat -Werror=format-security -D_FORTIFY_SOURCE=2"
ldflags="-Wl,-z,relro -Wl,-z,now"
flags=(-DCMAKE_BUILD_TYPE=Release -DZEMBRA_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr
       -DBUILD_TESTING=OFF -DZEMBRA_BENCH=OFF -DZEMBRA_ONLY=
       "-DCMAKE_C_FLAGS_RELEASE=$cflags" "-DCMAKE_CXX_FLAGS_RELEASE=$cflags"
       "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags"
       "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags")
# The same compiler cache as scripts/test.sh, keyed on paths relative to the checkout.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
  flags+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B "$dir" -G Ninja "${flags[@]}" >&2
cmake --build "$dir" >&2
mkdir -p "$out"
rm -f "$out"/zembra_*.deb
cpack --config "$dir/CPackConfig.cmake" -B "$out" >&2
rm -rf "$out/_CPack_Packages"

debs=("$out"/zembra_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: expected one zembra_*.deb in $out, found: ${debs[*]}" >&2
  exit 1
fi
echo "$root/${debs[0]}"
