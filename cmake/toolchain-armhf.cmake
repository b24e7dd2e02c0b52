# Cross build for the device's 32-bit ARM CPU (Debian armhf, glibc), with Debian's cross
# toolchain and the armhf packages that scripts/install-deps-armhf.sh installs. Programs built
# here run on this machine through the user-mode emulator: ctest starts every test through it,
# and the emulator tells the tests so (TOBREL_EMULATOR in their environment), so that the
# programs they start go through it too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "pkg-config of the target")

# The notes on the ABI change of GCC 7 concern code built with an older compiler; everything
# here is built with one compiler.
set(CMAKE_C_FLAGS_INIT "-Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Libraries and headers of the target only; programs (protoc, glib-genmarshal, dbus-daemon) are
# the build machine's, except the GStreamer tools, which the tests run on our plug-ins.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
list(PREPEND CMAKE_PROGRAM_PATH /opt/gstreamer-tools-armhf/bin)
set(LIBNODE_PREFIX /opt/libnode-armhf CACHE PATH "Prefix holding include/node and lib/libnode.so")

# GStreamer loads plug-ins through a helper program it starts, which the kernel alone cannot run
# here: the programs under test (voice) scan them in their own process instead.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm-static -E TOBREL_EMULATOR=/usr/bin/qemu-arm-static
    -E GST_REGISTRY_FORK=no)
