# Which C library the memoria executable is linked against on Linux.
#
# musl: linked statically against musl (Debian's musl-tools), whose start-up
# costs a small fraction of glibc's. The program's own code includes only C
# headers, so g++ compiles it with -nostdinc++ and the driver file that
# musl-tools ships for gcc, and links it with no C++ library at all. Only the
# GNU compiler driver reads that file.
# system: the compiler's own C library (glibc on Debian).
#
# The libraries that the unit tests and fuzzers link are always built for the
# system C library; only the executable changes.
set(MEMORIA_LIBC "" CACHE STRING "C library of the memoria executable: musl or system (empty: musl where it can be used)")
set_property(CACHE MEMORIA_LIBC PROPERTY STRINGS "" musl system)

find_file(MEMORIA_MUSL_DRIVER_FILE musl-gcc.specs
  PATHS /usr/lib/x86_64-linux-musl /usr/lib/musl/lib /usr/local/musl/lib
  NO_DEFAULT_PATH)

set(musl_blocker "")
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(musl_blocker "the target is ${CMAKE_SYSTEM_NAME}, not Linux")
elseif(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(musl_blocker "${CMAKE_CXX_COMPILER_ID} cannot use musl's gcc driver file; only g++ can")
elseif(MEMORIA_SANITIZE OR MEMORIA_FUZZ)
  set(musl_blocker "the sanitizer runtimes need the system C library")
elseif(NOT MEMORIA_STATIC)
  set(musl_blocker "musl is linked statically, and MEMORIA_STATIC is OFF")
elseif(NOT MEMORIA_MUSL_DRIVER_FILE)
  set(musl_blocker "musl's gcc driver file was not found: install the package musl-tools")
endif()

if(MEMORIA_LIBC STREQUAL "musl")
  if(musl_blocker)
    message(FATAL_ERROR "MEMORIA_LIBC=musl cannot be used: ${musl_blocker}")
  endif()
  set(memoria_libc musl)
  set(memoria_libc_why "asked for")
elseif(MEMORIA_LIBC STREQUAL "system")
  set(memoria_libc system)
  set(memoria_libc_why "asked for")
elseif(MEMORIA_LIBC STREQUAL "")
  if(musl_blocker)
    set(memoria_libc system)
    set(memoria_libc_why "${musl_blocker}")
  else()
    set(memoria_libc musl)
    set(memoria_libc_why "found ${MEMORIA_MUSL_DRIVER_FILE}")
  endif()
else()
  message(FATAL_ERROR "MEMORIA_LIBC is musl or system, not '${MEMORIA_LIBC}'")
endif()
message(STATUS "memoria is linked against the ${memoria_libc} C library (${memoria_libc_why})")
set(MEMORIA_LIBC_USED ${memoria_libc} CACHE INTERNAL "The C library that the memoria executable is linked against")
# How a source is compiled and the executable linked against musl: its
# headers and start-up files, and none of the C++ library's.
set(MEMORIA_MUSL_FLAGS -nostdinc++ -specs=${MEMORIA_MUSL_DRIVER_FILE})
