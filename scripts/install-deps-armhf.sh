#!/usr/bin/env bash
# Installs what the 32-bit ARM (Debian armhf) cross build and its emulated test run need, on top
# of scripts/install-deps.sh: the armhf package architecture, the cross toolchain, the armhf
# development package of every dependency, the emulator, and two private prefixes that apt cannot
# fill without replacing the host's copies: the armhf script engine and the armhf GStreamer tools.
# Non-interactive; safe to run again (what is there is skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh >/dev/null

ARCH=armhf
LIBNODE_PREFIX=/opt/libnode-armhf          # both prefixes are named in cmake/toolchain-armhf.cmake
GST_TOOLS_PREFIX=/opt/gstreamer-tools-armhf
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# Host tools (they run on the build machine) and the target's libraries and headers.
HOST_PACKAGES=(crossbuild-essential-armhf qemu-user-static)
TARGET_PACKAGES=(
  libglib2.0-dev libdbus-1-dev libdbus-glib-1-dev libprotobuf-dev
  libcurl4-openssl-dev libssl-dev libxml2-dev uuid-dev
  libgstreamer1.0-dev libgtest-dev libgmock-dev
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

updated=0
update_once() {
  if [ $updated -eq 0 ]; then $SUDO apt-get update -qq; updated=1; fi
}

if ! dpkg --print-foreign-architectures | grep -qx "$ARCH"; then
  $SUDO dpkg --add-architecture "$ARCH"
  update_once
fi

missing=()
for p in "${HOST_PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${TARGET_PACKAGES[@]}"; do installed "$p:$ARCH" || missing+=("$p:$ARCH"); done
if [ ${#missing[@]} -gt 0 ]; then
  update_once
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Runtime libraries of a package, as armhf package names, leaving out script packages and
# alternatives apt would have to choose.
target_runtime_deps() {
  apt-cache depends "$1:$ARCH" | awk '/^  Depends: /{print $2}' | grep -v -E '^(node-|<)' |
    sed -e 's/:any$//' -e "s/:$ARCH\$//" | sort -u
}

# Unpacks the named armhf packages (apt-get download) into $1 (a fresh temporary folder).
unpack_target_packages() {
  local root=$1; shift
  local work
  work=$(mktemp -d); chmod 755 "$work"
  local pkgs=()
  for p in "$@"; do pkgs+=("$p:$ARCH"); done
  (cd "$work" && apt-get download -qq "${pkgs[@]}")
  for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$root"; done
  rm -rf "$work"
}

# The script engine: only inside Debian's libnode, whose package conflicts with the machine's
# own nodejs, so it is unpacked into a prefix of its own, as for the host build.
so=$LIBNODE_PREFIX/lib/libnode.so
need_libnode=0
[ -e "$so" ] && [ -e "$LIBNODE_PREFIX/include/node/v8.h" ] || need_libnode=1
if [ $need_libnode -eq 0 ] &&
   arm-linux-gnueabihf-readelf -d "$so" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' |
   while read -r lib; do [ -e "/usr/lib/arm-linux-gnueabihf/$lib" ] || [ -e "/lib/arm-linux-gnueabihf/$lib" ] || exit 1; done
then :; else need_libnode=1; fi
if [ $need_libnode -eq 1 ]; then
  update_once
  deps=()
  while read -r d; do deps+=("$d:$ARCH"); done < <(target_runtime_deps libnode108)
  $SUDO apt-get install -y -qq --no-install-recommends "${deps[@]}"
  root=$(mktemp -d)
  unpack_target_packages "$root" libnode108 libnode-dev
  $SUDO mkdir -p "$LIBNODE_PREFIX/lib" "$LIBNODE_PREFIX/include"
  $SUDO rm -rf "$LIBNODE_PREFIX/include/node"
  $SUDO cp -a "$root/usr/include/node" "$LIBNODE_PREFIX/include/node"
  $SUDO cp -a "$(find "$root/usr/lib" -name 'libnode.so.108' | head -n1)" "$LIBNODE_PREFIX/lib/libnode.so.108"
  $SUDO ln -sf libnode.so.108 "$LIBNODE_PREFIX/lib/libnode.so"
  rm -rf "$root"
fi

# gst-launch-1.0 and gst-inspect-1.0 of the target: their package cannot sit beside the host's,
# so the two programs are unpacked; their libraries come with the -dev packages above.
if [ ! -x "$GST_TOOLS_PREFIX/bin/gst-launch-1.0" ] || [ ! -x "$GST_TOOLS_PREFIX/bin/gst-inspect-1.0" ]; then
  update_once
  root=$(mktemp -d)
  unpack_target_packages "$root" gstreamer1.0-tools
  $SUDO mkdir -p "$GST_TOOLS_PREFIX/bin"
  $SUDO cp -a "$root/usr/bin/gst-launch-1.0" "$root/usr/bin/gst-inspect-1.0" "$GST_TOOLS_PREFIX/bin/"
  rm -rf "$root"
fi
echo "armhf dependencies ready (script engine in $LIBNODE_PREFIX, GStreamer tools in $GST_TOOLS_PREFIX)"
