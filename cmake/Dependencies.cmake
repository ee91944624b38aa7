find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)

# Debian's libiniparser-dev ships no pkg-config file.
find_path(INIPARSER_INCLUDE_DIR iniparser.h PATH_SUFFIXES iniparser REQUIRED)
find_library(INIPARSER_LIBRARY iniparser REQUIRED)
add_library(Iniparser::Iniparser UNKNOWN IMPORTED)
set_target_properties(Iniparser::Iniparser PROPERTIES
  IMPORTED_LOCATION "${INIPARSER_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${INIPARSER_INCLUDE_DIR}")

if(VELMORA_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(VELMORA_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
# Every JSON the program reads or writes (header-only).
find_package(nlohmann_json 3.11 REQUIRED)
# The traceability history's database and the SHA-256 of the images it records.
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(NETTLE REQUIRED IMPORTED_TARGET nettle)
# A line's shared history on a PostgreSQL server: the server's own C client.
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET libpq)
# The logind lock a run takes while it rewrites a hub's flash (sd-bus).
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
# Signed images: Ed25519, BLAKE2b and scrypt, as minisign uses them.
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
# The metrics endpoint's HTTP: Debian's build of the library, whose compiled part
# is a shared library; its pkg-config flags keep our view of its classes the same
# as its own.
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
