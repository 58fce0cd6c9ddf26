#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages.
#   scripts/setup.sh            native build only (Linux tool, operator tool, tests)
#   scripts/setup.sh --windows  also the Windows cross toolchain, Wine and Crypto++ for mingw
# Safe to run again: installed packages and a cached Crypto++ build are reused.
set -euo pipefail

want_windows=0
for arg in "$@"; do
  case "$arg" in
    --windows) want_windows=1 ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native_pkgs=(cmake g++ make libcrypto++-dev lzma-dev googletest libgtest-dev xz-utils python3
             libcurl4-openssl-dev nginx-light clang libclang-rt-14-dev curl tmux)
windows_pkgs=(g++-mingw-w64-i686 gcc-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth xdotool
              imagemagick dpkg-dev osslsigncode openssl)

missing=()
for p in "${native_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "$want_windows" = 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_update=1
  fi
  for p in "${windows_pkgs[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if [ "$want_windows" = 0 ]; then exit 0; fi

# Crypto++ has no mingw package: build the static library from Debian's source package,
# once per machine, in a cache outside the clone keyed by version and flags.
CACHE_ROOT="${REPAIR_CACHE:-/var/cache/repair-build}"
CXXFLAGS_CRYPTOPP="-O2 -DNDEBUG"
version="$(dpkg-query -W -f='${Version}' libcrypto++-dev)"
key="$(printf '%s|%s|i686-w64-mingw32-g++-posix' "$version" "$CXXFLAGS_CRYPTOPP" | sha1sum | cut -c1-12)"
prefix="$CACHE_ROOT/cryptopp-mingw-$key"
current="$CACHE_ROOT/cryptopp-mingw-current"  # what the cross build is configured with
if [ -f "$prefix/lib/libcryptopp.a" ]; then
  $SUDO ln -sfn "$prefix" "$current"
  echo "setup: Crypto++ for mingw cached in $prefix"
  exit 0
fi

$SUDO mkdir -p "$CACHE_ROOT"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
src_list=/etc/apt/sources.list.d/repair-build-src.list
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  | $SUDO tee "$src_list" >/dev/null
cleanup_src() { $SUDO rm -f "$src_list"; $SUDO apt-get update -q >/dev/null || true; }
$SUDO apt-get update -q
( cd "$work" && apt-get source -q libcrypto++ ) || { cleanup_src; exit 1; }
cleanup_src
srcdir="$(find "$work" -maxdepth 1 -type d -name 'libcrypto++-*' | head -n1)"
echo "setup: building Crypto++ for mingw in $srcdir (a few minutes)"
make -C "$srcdir" -f GNUmakefile-cross -j"$(nproc)" static \
  CXX=i686-w64-mingw32-g++-posix AR=i686-w64-mingw32-ar RANLIB=i686-w64-mingw32-ranlib \
  CXXFLAGS="$CXXFLAGS_CRYPTOPP" >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log"; exit 1; }
$SUDO mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include/cryptopp"
$SUDO cp "$srcdir/libcryptopp.a" "$prefix.tmp/lib/"
$SUDO cp "$srcdir"/*.h "$prefix.tmp/include/cryptopp/"
$SUDO rm -rf "$prefix"
$SUDO mv "$prefix.tmp" "$prefix"
$SUDO ln -sfn "$prefix" "$current"
echo "setup: Crypto++ for mingw installed in $prefix"
