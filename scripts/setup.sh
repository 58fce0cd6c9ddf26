#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages.
#   scripts/setup.sh            native build only (Linux tool, operator tool, tests)
#   scripts/setup.sh --windows  also the Windows cross toolchain, Wine and Crypto++ for mingw;
#                               where Wine cannot run 32-bit programs (scripts/wine-arch.sh;
#                               REPAIR_WINE_ARCH=win64 forces it) the x86_64 ones as well
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
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native_pkgs=(cmake g++ make libcrypto++-dev lzma-dev googletest libgtest-dev xz-utils python3
             libcurl4-openssl-dev nginx-light clang libclang-rt-14-dev curl tmux time
             openssl ca-certificates tinyproxy-bin iproute2 util-linux)
windows_pkgs=(g++-mingw-w64-i686 gcc-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth xdotool
              imagemagick dpkg-dev osslsigncode openssl)
# Only where the Windows suites run as 64-bit programs (see below): the posix-thread compilers.
windows64_pkgs=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix)

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

# Installs those of the packages that are not installed yet; $1 as for install_packages.
install_missing() {
  local multiarch="$1" p missing=(); shift
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] || install_packages "$multiarch" "${missing[@]}"
}

install_missing 0 "${native_pkgs[@]}" || exit 1

if [ "$want_windows" = 0 ]; then exit 0; fi

added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture (Wine's 32-bit half)"
  $SUDO dpkg --add-architecture i386
  added_i386=1
fi
if ! install_missing 1 "${windows_pkgs[@]}"; then
  # Leave the machine as it was: an architecture with nothing installed for it only slows
  # every later update.
  if [ "$added_i386" = 1 ] && ! dpkg -l 2>/dev/null | awk '$1 ~ /^[hi]i$/ {print $2}' | grep -q ':i386$'; then
    echo "setup: removing the i386 architecture again"
    $SUDO dpkg --remove-architecture i386 || true
    apt_update
  fi
  exit 1
fi

# Where Wine cannot run 32-bit programs the Windows suites run as 64-bit programs
# (scripts/wine-arch.sh), which need the x86_64 cross compilers and Crypto++ built for them too.
want_x86_64=0
if wine_arch="$("$(dirname "$0")/wine-arch.sh")"; then
  if [ "$wine_arch" = win64 ]; then
    echo "setup: the Windows suites run as 64-bit programs here" \
         "($("$(dirname "$0")/wine-arch.sh" --reason)), so the x86_64 cross toolchain and" \
         "Crypto++ are needed as well"
    want_x86_64=1
  fi
else
  echo "setup: warning: Wine runs no Windows program here; the Windows suites cannot run"
fi
if [ "$want_x86_64" = 1 ]; then
  install_missing 0 "${windows64_pkgs[@]}" || exit 1
fi

# Crypto++ has no mingw package: build the static library from Debian's source package,
# once per machine and architecture, in a cache outside the clone keyed by version, flags and
# compiler (which names the architecture).
CACHE_ROOT="${REPAIR_CACHE:-/var/cache/repair-build}"
CXXFLAGS_CRYPTOPP="-O2 -DNDEBUG"
version="$(dpkg-query -W -f='${Version}' libcrypto++-dev)"
srcdir=""

fetch_cryptopp_source() {
  [ -n "$srcdir" ] && return 0
  local src_list=/etc/apt/sources.list.d/repair-build-src.list
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    | $SUDO tee "$src_list" >/dev/null
  apt_update
  if ! ( cd "$work" && apt-get source -q libcrypto++ ); then
    echo "setup: error: cannot fetch the source package libcrypto++" >&2
    $SUDO rm -f "$src_list"; apt_update
    return 1
  fi
  $SUDO rm -f "$src_list"
  apt_update
  srcdir="$(find "$work" -maxdepth 1 -type d -name 'libcrypto++-*' | head -n1)"
}

# cryptopp_for TRIPLET NAME: the library for the mingw compilers TRIPLET-*, in
# CACHE_ROOT/NAME-KEY, with CACHE_ROOT/NAME-current pointing at it (what the cross build of
# that architecture is configured with).
cryptopp_for() {
  local triplet="$1" name="$2" key prefix current build started
  key="$(printf '%s|%s|%s-g++-posix' "$version" "$CXXFLAGS_CRYPTOPP" "$triplet" | sha1sum | cut -c1-12)"
  prefix="$CACHE_ROOT/$name-$key"
  current="$CACHE_ROOT/$name-current"
  if [ -f "$prefix/lib/libcryptopp.a" ]; then
    $SUDO ln -sfn "$prefix" "$current"
    echo "setup: Crypto++ for $triplet cached in $prefix"
    return 0
  fi
  $SUDO mkdir -p "$CACHE_ROOT"
  fetch_cryptopp_source || return 1
  # A copy of the source per architecture: each build leaves its objects in the tree.
  build="$work/build-$triplet"
  cp -a "$srcdir" "$build"
  echo "setup: building Crypto++ for $triplet in $build (a few minutes)"
  started=$SECONDS
  make -C "$build" -f GNUmakefile-cross -j"$(nproc)" static \
    CXX="$triplet-g++-posix" AR="$triplet-ar" RANLIB="$triplet-ranlib" \
    CXXFLAGS="$CXXFLAGS_CRYPTOPP" >"$work/build-$triplet.log" 2>&1 || {
    tail -n 40 "$work/build-$triplet.log"
    echo "setup: error: Crypto++ for $triplet did not build" >&2
    return 1
  }
  $SUDO mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include/cryptopp"
  $SUDO cp "$build/libcryptopp.a" "$prefix.tmp/lib/"
  $SUDO cp "$build"/*.h "$prefix.tmp/include/cryptopp/"
  $SUDO rm -rf "$prefix"
  $SUDO mv "$prefix.tmp" "$prefix"
  $SUDO ln -sfn "$prefix" "$current"
  rm -rf "$build"
  echo "setup: Crypto++ for $triplet installed in $prefix (built in $((SECONDS - started)) s)"
}

cryptopp_for i686-w64-mingw32 cryptopp-mingw || exit 1
if [ "$want_x86_64" = 1 ]; then
  cryptopp_for x86_64-w64-mingw32 cryptopp-mingw-x86_64 || exit 1
fi
