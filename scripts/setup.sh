#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages.
#   scripts/setup.sh            native build only (Linux tool, operator tool, tests)
#   scripts/setup.sh --windows  also the Windows cross toolchain, Wine and Crypto++ for mingw
# Safe to run again: installed packages and a cached Crypto++ build are reused.
#
# The package registry may be out of step with the machine: an index that fails its size check
# while a mirror syncs, or amd64 libraries at security versions whose i386 twins no readable
# index carries. Then an incomplete index is a warning, a failed install is tried once more
# after a fresh update, and i386 packages that still cannot be resolved are installed with the
# main suite preferred (which may move a few shared libraries to that suite's version). Each
# step says what it does; a real failure names the package and leaves the machine as it was.
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
             libcurl4-openssl-dev nginx-light clang libclang-rt-14-dev curl tmux time)
windows_pkgs=(g++-mingw-w64-i686 gcc-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth xdotool
              imagemagick dpkg-dev osslsigncode openssl)

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# An index that did not download whole leaves apt with the lists it had: go on with those.
apt_update() {
  if ! $SUDO apt-get update -q >"$work/update.log" 2>&1; then
    echo "setup: warning: apt-get update did not fetch every index; going on with the lists it has:"
    grep -E '^(E|W|Err):' "$work/update.log" | sed 's/^/setup:   /' | head -n 6 || true
  fi
}

apt_install() {
  $SUDO apt-get install -y -q --no-install-recommends "$@"
}

# Preferring the main suite lets an i386 package and its amd64 twin meet at one version when
# the security suite's i386 index is unreadable. Passed per call: nothing is written under /etc.
main_suite_preferences() {
  local codename
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  cat >"$work/prefer-main.pref" <<PREF
Package: *
Pin: release n=$codename
Pin-Priority: 1001
PREF
  echo "$work/prefer-main.pref"
}

# Names the packages that cannot be installed, one simulated install each.
report_unresolvable() {
  local p bad=()
  for p in "$@"; do
    $SUDO apt-get install -s -q --no-install-recommends "$p" >/dev/null 2>&1 || bad+=("$p")
  done
  if [ "${#bad[@]}" -gt 0 ]; then
    echo "setup: error: cannot install ${bad[*]} (see apt-get's message above)" >&2
  else
    echo "setup: error: installing $* failed (see apt-get's message above)" >&2
  fi
}

# Installs the packages, coping with a registry out of step with the machine. $1 is 1 when
# the set holds i386 packages (the main-suite preference may then help).
install_packages() {
  local multiarch="$1"; shift
  echo "setup: installing $*"
  apt_update
  if apt_install "$@"; then return 0; fi
  echo "setup: the install failed; updating the package lists and trying once more"
  apt_update
  if apt_install "$@"; then return 0; fi
  if [ "$multiarch" = 1 ]; then
    echo "setup: i386 packages cannot meet their amd64 twins at one version; installing with" \
         "the main suite preferred (may downgrade a few shared libraries to its version)"
    if apt_install --allow-downgrades -o Dir::Etc::Preferences="$(main_suite_preferences)" "$@"
    then
      return 0
    fi
  fi
  # A dpkg run cut short is finished, so that no package is left half configured.
  $SUDO dpkg --configure -a >/dev/null 2>&1 || true
  report_unresolvable "$@"
  return 1
}

missing=()
for p in "${native_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  install_packages 0 "${missing[@]}" || exit 1
fi

if [ "$want_windows" = 0 ]; then exit 0; fi

added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (Wine's 32-bit half)"
  $SUDO dpkg --add-architecture i386
  added_i386=1
fi
missing=()
for p in "${windows_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  if ! install_packages 1 "${missing[@]}"; then
    # Leave the machine as it was: an architecture with nothing installed for it only slows
    # every later update.
    if [ "$added_i386" = 1 ] && ! dpkg -l 2>/dev/null | awk '$1 ~ /^[hi]i$/ {print $2}' | grep -q ':i386$'; then
      echo "setup: removing the i386 architecture again"
      $SUDO dpkg --remove-architecture i386 || true
      apt_update
    fi
    exit 1
  fi
fi

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
src_list=/etc/apt/sources.list.d/repair-build-src.list
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  | $SUDO tee "$src_list" >/dev/null
cleanup_src() { $SUDO rm -f "$src_list"; apt_update; }
apt_update
( cd "$work" && apt-get source -q libcrypto++ ) || {
  echo "setup: error: cannot fetch the source package libcrypto++" >&2; cleanup_src; exit 1; }
cleanup_src
srcdir="$(find "$work" -maxdepth 1 -type d -name 'libcrypto++-*' | head -n1)"
echo "setup: building Crypto++ for mingw in $srcdir (a few minutes)"
make -C "$srcdir" -f GNUmakefile-cross -j"$(nproc)" static \
  CXX=i686-w64-mingw32-g++-posix AR=i686-w64-mingw32-ar RANLIB=i686-w64-mingw32-ranlib \
  CXXFLAGS="$CXXFLAGS_CRYPTOPP" >"$work/build.log" 2>&1 || {
  tail -n 40 "$work/build.log"; echo "setup: error: Crypto++ for mingw did not build" >&2; exit 1; }
$SUDO mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include/cryptopp"
$SUDO cp "$srcdir/libcryptopp.a" "$prefix.tmp/lib/"
$SUDO cp "$srcdir"/*.h "$prefix.tmp/include/cryptopp/"
$SUDO rm -rf "$prefix"
$SUDO mv "$prefix.tmp" "$prefix"
$SUDO ln -sfn "$prefix" "$current"
echo "setup: Crypto++ for mingw installed in $prefix"
