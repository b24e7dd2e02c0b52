# Imported targets for every dependency, so each folder only names what it links.

# The script engine lives in a private prefix unpacked from Debian's libnode (see scripts/install-deps.sh).
# Debian builds it without pointer compression: define neither V8_COMPRESS_POINTERS nor
# V8_31BIT_SMIS_ON_64BIT_ARCH, or V8::Initialize() aborts on the configuration mismatch.
set(LIBNODE_PREFIX "/opt/libnode" CACHE PATH "Prefix holding include/node and lib/libnode.so")
find_library(LIBNODE_LIBRARY NAMES node PATHS ${LIBNODE_PREFIX}/lib NO_DEFAULT_PATH)
find_path(LIBNODE_INCLUDE_DIR v8.h PATHS ${LIBNODE_PREFIX}/include/node NO_DEFAULT_PATH)
if(LIBNODE_LIBRARY AND LIBNODE_INCLUDE_DIR)
  add_library(tobrel::v8 SHARED IMPORTED)
  set_target_properties(tobrel::v8 PROPERTIES
    IMPORTED_LOCATION ${LIBNODE_LIBRARY}
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${LIBNODE_INCLUDE_DIR}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBNODE_INCLUDE_DIR})
elseif(TOBREL_WITH_VM)
  message(FATAL_ERROR "libnode not found under ${LIBNODE_PREFIX}: run scripts/install-deps.sh")
endif()

pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(GOBJECT REQUIRED IMPORTED_TARGET gobject-2.0)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
pkg_check_modules(DBUS_GLIB REQUIRED IMPORTED_TARGET dbus-glib-1)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0)
pkg_check_modules(GST_CHECK IMPORTED_TARGET gstreamer-check-1.0)

find_package(Protobuf REQUIRED)
# TLS for the web stand-in and the test certificates (the client reaches TLS through libcurl).
find_package(OpenSSL REQUIRED)
find_program(GLIB_GENMARSHAL glib-genmarshal REQUIRED)
find_program(DBUS_BINDING_TOOL dbus-binding-tool REQUIRED)
find_program(DBUS_DAEMON dbus-daemon REQUIRED)
