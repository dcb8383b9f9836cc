# memoria_judge_library(NAME SOURCES... [LINKS libraries...]): a library of
# the judge, built for the system C library (the tests and fuzzers link it).
# Where the executable is linked against musl, a twin NAME_musl is built from
# the same sources against musl's headers, with no C++ library: the
# executable links the twins' objects (an object library passes its objects
# only to what links it directly, so the executable names each twin), and a
# twin that needed the C++ library would fail its link.
function(memoria_judge_library name)
  cmake_parse_arguments(arg "" "" "SOURCES;LINKS" ${ARGN})
  set(variants ${name})
  if(MEMORIA_LIBC_USED STREQUAL "musl")
    list(APPEND variants ${name}_musl)
  endif()
  foreach(target ${variants})
    if(target STREQUAL name)
      add_library(${target} STATIC ${arg_SOURCES})
    else()
      add_library(${target} OBJECT ${arg_SOURCES})
    endif()
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${MEMORIA_PROGRAM_FLAGS})
    target_link_libraries(${target} PRIVATE memoria_warnings)
  endforeach()
  if(arg_LINKS)
    target_link_libraries(${name} PUBLIC ${arg_LINKS})
  endif()
  if(MEMORIA_LIBC_USED STREQUAL "musl")
    foreach(link ${arg_LINKS})
      target_link_libraries(${name}_musl PUBLIC ${link}_musl)
    endforeach()
    target_compile_options(${name}_musl PUBLIC ${MEMORIA_MUSL_FLAGS} -fno-threadsafe-statics)
  endif()
endfunction()
