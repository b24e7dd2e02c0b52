#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages, non-interactively.
# Safe to run again: installed packages are skipped and the script engine prefix is kept.
set -euo pipefail

LIBNODE_PREFIX=${LIBNODE_PREFIX:-/opt/libnode}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  build-essential cmake pkg-config ninja-build
  libglib2.0-dev libglib2.0-dev-bin libglib2.0-bin
  libdbus-1-dev libdbus-glib-1-dev libdbus-glib-1-dev-bin dbus dbus-daemon dbus-x11
  libprotobuf-dev protobuf-compiler python3-protobuf
  libcurl4-openssl-dev libssl-dev ca-certificates libxml2-dev uuid-dev
  libgstreamer1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  python3-dbus python3-dbusmock python3-gi
  psmisc procps
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The script engine ships only inside Debian's libnode; it cannot be installed with apt here
# (it conflicts with the machine's own nodejs), so it is unpacked into a private prefix.
need_libnode=0
[ -e "$LIBNODE_PREFIX/lib/libnode.so" ] && [ -e "$LIBNODE_PREFIX/include/node/v8.h" ] || need_libnode=1
# A kept prefix whose runtime libraries went missing is set up again.
if [ $need_libnode -eq 0 ] && ldd "$LIBNODE_PREFIX/lib/libnode.so" | grep -q 'not found'; then need_libnode=1; fi

if [ ${#missing[@]} -gt 0 ] || [ $need_libnode -eq 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ $need_libnode -eq 1 ]; then
  # libnode's runtime libraries, without the node-* script packages it also lists.
  deps=$(apt-cache depends libnode108 | awk '/^  Depends: /{print $2}' | grep -v -E '^(node-|<)' | sort -u)
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $deps
  work=$(mktemp -d); chmod 755 "$work"
  (cd "$work" && apt-get download -qq libnode108 libnode-dev)
  $SUDO mkdir -p "$LIBNODE_PREFIX/lib" "$LIBNODE_PREFIX/include"
  for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
  $SUDO rm -rf "$LIBNODE_PREFIX/include/node"
  $SUDO cp -a "$work/root/usr/include/node" "$LIBNODE_PREFIX/include/node"
  so=$(find "$work/root/usr/lib" -name 'libnode.so.108' | head -n1)
  $SUDO cp -a "$so" "$LIBNODE_PREFIX/lib/libnode.so.108"
  $SUDO ln -sf libnode.so.108 "$LIBNODE_PREFIX/lib/libnode.so"
  rm -rf "$work"
fi
echo "dependencies ready (script engine in $LIBNODE_PREFIX)"
