#!/usr/bin/env bash
# Installs everything the build and the tests need; safe to run again (a run
# with everything present takes seconds). Debian 12 or compatible, as root.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
THIRD="$ROOT/third_party"
DL="$THIRD/downloads"
STAMP="$THIRD/.setup-done-v1"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

DEB_PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache file unzip zip
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev
  binutils-mingw-w64-i686 libz-mingw-w64-dev
  libsdl2-dev libcurl4-openssl-dev libssl-dev libpng-dev zlib1g-dev
  libgtest-dev googletest libcpp-httplib-dev
  xvfb xauth xdotool imagemagick x11-utils xfonts-base
  wine wine32:i386 libgl1-mesa-dri libgl1-mesa-dri:i386 libgl1:i386 libglx-mesa0:i386
  python3-pytest python3-pytest-xdist fonts-liberation2 clang-14 libclang-rt-14-dev
  dpkg-dev curl ca-certificates lintian systemd
  libsodium-dev minisign autoconf automake libtool nginx libfontconfig-dev
  libzstd-dev xdelta3
)

# Pinned digests of every file fetched from a registry.
declare -A SHA256=(
  [imgui_1.86+ds.orig.tar.xz]=0dace0e8e57d298eb6e93af12dc19420cb96330832f6495c733b90aeeef11f64
  [r-cran-zip_2.2.2.orig.tar.gz]=e16cde23bb283efbe9b6bce19575c716c371d09033b42514471ccb444c0a8ea4
  [libpng1.6_1.6.39.orig.tar.gz]=a00e9d2f2f664186e4202db9299397f851aea71b36a35e74910b8820e380d441
  [libsodium_1.0.18.orig.tar.gz]=d59323c6b712a1519a5daf710b68f5e7fde57040845ffec53850911f10a5d4f4
  [libzstd_1.5.4+dfsg2.orig.tar.xz]=8cf4bbb65e77ec348d052c8d6230eba66d435bddf64c8b5be2fcb16880c19953
  [cpp-httplib_0.11.4+ds.orig.tar.xz]=8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb
  [fortawesome-fontawesome-free-5.15.3.tgz]=14ad218f2147a8e88619df88a8a0be6dde7c2065ab7f42c41576ad220d49e7fa
  [font-awesome-4.7.0.tgz]=92042b715919e17499ded134884b0318fd88041efac9b0f3204069df52222a61
)

log() { printf '[setup] %s\n' "$*"; }

# A mirror in the middle of a sync fails an index now and then ("File has
# unexpected size"): try again, then go on with the lists there are; the
# install that follows says so if a package is really missing.
update_package_lists() {
  local attempt
  for attempt in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    log "apt-get update failed (try $attempt of 3)"
    [ "$attempt" -lt 3 ] && sleep $((attempt * 10))
  done
  log "going on with the package lists already on this machine"
}

verify() { # file
  local name; name="$(basename "$1")"
  local want="${SHA256[$name]:-}"
  [ -n "$want" ] || { echo "no pinned digest for $name" >&2; return 1; }
  local got; got="$(sha256sum "$1" | cut -d' ' -f1)"
  if [ "$got" != "$want" ]; then
    echo "sha256 mismatch for $name: got $got, want $want" >&2
    rm -f "$1"
    return 1
  fi
}

packages_missing() {
  local p
  for p in "${DEB_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 0
  done
  return 1
}

# A mirror mid-sync can refuse one architecture's security index, so that apt
# sees newer amd64 than i386 versions of the multi-arch libraries Wine needs
# and answers "held broken packages". Then the install is tried again with the
# security suite held below the main one, for this install only, so that both
# architectures get the versions they share. STARFELL_SETUP_SIMULATE_SKEW=1
# makes the first try fail that way, to try the fallback.
install_debian_packages() {
  local output status=0
  if [ "${STARFELL_SETUP_SIMULATE_SKEW:-}" = 1 ]; then
    output="E: Unable to correct problems, you have held broken packages. (simulated)"
    status=100
  else
    output="$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${DEB_PACKAGES[@]}" 2>&1 >/dev/null)" || status=$?
  fi
  [ "$status" -eq 0 ] && return 0
  if ! grep -qE 'held broken packages|unmet dependencies|unexpected size' <<<"$output"; then
    printf '%s\n' "$output" >&2
    return "$status"
  fi
  log "WARNING: the package lists disagree between architectures (a mirror mid-sync?);"
  log "WARNING: installing with the security suite held below the main one, for this install only"
  local pins; pins="$(mktemp -d)"
  printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n' "$(security_suite)" >"$pins/security-below-main.pref"
  status=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    -o Dir::Etc::PreferencesParts="$pins" "${DEB_PACKAGES[@]}" >/dev/null || status=$?
  rm -rf "$pins"
  return "$status"
}

# The suite of the machine's security archive (bookworm-security here).
security_suite() {
  local suite
  suite="$(grep -hs -A3 'debian-security' /etc/apt/sources.list.d/*.sources | awk '$1 == "Suites:" {print $2; exit}')"
  [ -n "$suite" ] || suite="$(awk '$1 == "deb" && $2 ~ /security/ {print $3; exit}' /etc/apt/sources.list 2>/dev/null)"
  echo "${suite:-bookworm-security}"
}

install_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture (Wine)"
    $SUDO dpkg --add-architecture i386
  fi
  local src=/etc/apt/sources.list.d/starfell-src.sources
  if [ ! -f "$src" ] && ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ \
     && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "adding a deb-src entry"
    # The same archive the machine's binary packages come from.
    local uris
    uris="$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | grep -v security | head -n1 | cut -d' ' -f2-)"
    [ -n "$uris" ] || uris="$(awk '$1 == "deb" && $3 !~ /security/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null)"
    $SUDO tee "$src" >/dev/null <<SRC
Types: deb-src
URIs: $uris
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  if packages_missing || [ ! -f "$STAMP" ]; then
    log "installing Debian packages"
    update_package_lists
    install_debian_packages
  fi
  # The machine's own Node.js usually brings npm; Debian's npm only when it does not.
  if ! command -v npm >/dev/null; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends npm >/dev/null
  fi
}

fetch_source_package() { # package orig-tarball
  local file="$DL/$2"
  if [ -f "$file" ] && verify "$file"; then return; fi
  log "fetching Debian source package $1"
  # Only the upstream tarball is used; a missing Debian diff is not an error.
  (cd "$DL" && apt-get source --download-only -qq "$1" >/dev/null 2>&1 || true)
  [ -f "$file" ] || { echo "could not fetch $2" >&2; exit 1; }
  verify "$file"
}

fetch_npm() { # package@version tarball
  local file="$DL/$2"
  if [ -f "$file" ] && verify "$file"; then return; fi
  log "fetching npm package $1"
  (cd "$DL" && npm pack --silent "$1" >/dev/null)
  verify "$file"
}

unpack_third_party() {
  if [ ! -f "$THIRD/imgui/imgui.h" ]; then
    rm -rf "$THIRD/imgui" && mkdir -p "$THIRD/imgui"
    tar -xJf "$DL/imgui_1.86+ds.orig.tar.xz" -C "$THIRD/imgui" --strip-components=1
  fi
  if [ ! -f "$THIRD/miniz/miniz.c" ]; then
    rm -rf "$THIRD/miniz" && mkdir -p "$THIRD/miniz"
    tar -xzf "$DL/r-cran-zip_2.2.2.orig.tar.gz" -C "$THIRD/miniz" --strip-components=2 zip/src/miniz.c zip/src/miniz.h
  fi
  if [ ! -f "$THIRD/libpng/png.c" ]; then
    rm -rf "$THIRD/libpng" && mkdir -p "$THIRD/libpng"
    tar -xzf "$DL/libpng1.6_1.6.39.orig.tar.gz" -C "$THIRD/libpng" --strip-components=1
  fi
  # The whole single-file cpp-httplib for the Windows unit tests' loopback HTTP
  # store: Debian's libcpp-httplib-dev header holds declarations only, its code
  # is in a Linux shared library.
  if [ ! -f "$THIRD/cpp-httplib/httplib.h" ]; then
    rm -rf "$THIRD/cpp-httplib" && mkdir -p "$THIRD/cpp-httplib"
    tar -xJf "$DL/cpp-httplib_0.11.4+ds.orig.tar.xz" -C "$THIRD/cpp-httplib" --strip-components=1 \
        --wildcards '*/httplib.h' '*/LICENSE'
  fi
  mkdir -p "$THIRD/fonts"
  if [ ! -f "$THIRD/fonts/fa-solid-900.ttf" ]; then
    tar -xzf "$DL/fortawesome-fontawesome-free-5.15.3.tgz" -O package/webfonts/fa-solid-900.ttf > "$THIRD/fonts/fa-solid-900.ttf"
  fi
  if [ ! -f "$THIRD/fonts/fontawesome-webfont.ttf" ]; then
    tar -xzf "$DL/font-awesome-4.7.0.tgz" -O package/fonts/fontawesome-webfont.ttf > "$THIRD/fonts/fontawesome-webfont.ttf"
  fi
  [ "$(stat -c %s "$THIRD/fonts/fa-solid-900.ttf")" = 202744 ] || { echo "fa-solid-900.ttf has the wrong size" >&2; exit 1; }
  [ "$(stat -c %s "$THIRD/fonts/fontawesome-webfont.ttf")" = 165548 ] || { echo "fontawesome-webfont.ttf has the wrong size" >&2; exit 1; }
}

# libsodium for the Windows launcher: a static i686 library under
# third_party/libsodium-i686 (Linux links Debian's libsodium-dev). The library
# is only rebuilt when its tarball changes, so a second run costs nothing.
build_libsodium_windows() {
  local tarball="$DL/libsodium_1.0.18.orig.tar.gz"
  local prefix="$THIRD/libsodium-i686"
  local stamp; stamp="$prefix/.built-from-$(sha256sum "$tarball" | cut -c1-16)"
  [ -f "$stamp" ] && [ -f "$prefix/lib/libsodium.a" ] && return
  log "building libsodium for Windows (i686, static; about a minute)"
  local work; work="$(mktemp -d)"
  tar -xzf "$tarball" -C "$work" --strip-components=1
  rm -rf "$prefix"
  # The tarball is the upstream git tree: autoreconf makes its configure script
  # (not autogen.sh, which would fetch config.guess from the network).
  # --enable-minimal keeps what signature checks need (Ed25519, BLAKE2b) and
  # skips the rest; the posix compiler matches the launcher's toolchain.
  local buildlog="$THIRD/libsodium-build.log"
  (cd "$work" && autoreconf -fi && ./configure --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-posix \
      --prefix="$prefix" --disable-shared --enable-static --enable-minimal --disable-pie CFLAGS="-O2" \
      && make -j"$(nproc)" && make install) >"$buildlog" 2>&1 || true
  rm -rf "$work"
  [ -f "$prefix/lib/libsodium.a" ] || { echo "libsodium build failed: see $buildlog" >&2; exit 1; }
  touch "$stamp"
}

# zstd for the Windows launcher's binary deltas: a static i686 library under
# third_party/zstd-i686 (Linux links Debian's libzstd-dev), built like libsodium
# only when its tarball changes. Only the decompressor and the compressor are
# needed: no legacy formats, no threads.
build_zstd_windows() {
  local tarball="$DL/libzstd_1.5.4+dfsg2.orig.tar.xz"
  local prefix="$THIRD/zstd-i686"
  local stamp; stamp="$prefix/.built-from-$(sha256sum "$tarball" | cut -c1-16)"
  [ -f "$stamp" ] && [ -f "$prefix/lib/libzstd.a" ] && return
  log "building zstd for Windows (i686, static)"
  local work; work="$(mktemp -d)"
  tar -xJf "$tarball" -C "$work" --strip-components=1
  rm -rf "$prefix" && mkdir -p "$prefix/lib" "$prefix/include"
  local buildlog="$THIRD/zstd-build.log"
  (cd "$work/lib" && make -j"$(nproc)" libzstd.a CC=i686-w64-mingw32-gcc-posix AR=i686-w64-mingw32-ar \
      ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_UNUSED_FUNCTIONS=1 CFLAGS="-O2" \
      && cp libzstd.a "$prefix/lib/" && cp zstd.h zdict.h zstd_errors.h "$prefix/include/") >"$buildlog" 2>&1 || true
  rm -rf "$work"
  [ -f "$prefix/lib/libzstd.a" ] || { echo "zstd build failed: see $buildlog" >&2; exit 1; }
  touch "$stamp"
}

main() {
  install_packages
  mkdir -p "$DL"
  fetch_source_package imgui imgui_1.86+ds.orig.tar.xz
  fetch_source_package r-cran-zip r-cran-zip_2.2.2.orig.tar.gz
  fetch_source_package libpng1.6 libpng1.6_1.6.39.orig.tar.gz
  fetch_source_package libsodium libsodium_1.0.18.orig.tar.gz
  fetch_source_package libzstd libzstd_1.5.4+dfsg2.orig.tar.xz
  fetch_source_package cpp-httplib cpp-httplib_0.11.4+ds.orig.tar.xz
  fetch_npm @fortawesome/fontawesome-free@5.15.3 fortawesome-fontawesome-free-5.15.3.tgz
  fetch_npm font-awesome@4.7.0 font-awesome-4.7.0.tgz
  unpack_third_party
  build_libsodium_windows
  build_zstd_windows
  touch "$STAMP"
  log "ready"
}

main "$@"
