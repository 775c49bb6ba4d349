# find_package(nuvrelos): the installed nuvrelos SDK, for a project built with the host's gcc
# and g++. Gives nuvrelos_add_program(NAME SOURCES... [PACKAGE NAME] [HEAP SIZE]), the target
# nuvrelos::runtime it links, and the paths below. Found from this file's own place, so the
# SDK may be moved or copied anywhere.
get_filename_component(NUVRELOS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(NUVRELOS_INCLUDE_DIR ${NUVRELOS_PREFIX}/include/nuvrelos)
set(NUVRELOS_RUNTIME_ARCHIVE ${NUVRELOS_PREFIX}/lib/nuvrelos/libnuvrelos.a)
set(NUVRELOS_CRT0 ${NUVRELOS_PREFIX}/lib/nuvrelos/crt0.o)
set(NUVRELOS_LINKER_SCRIPT ${NUVRELOS_PREFIX}/lib/nuvrelos/nuvrelos.ld)
set(NUVRELOS_HEAP_FREE ${NUVRELOS_PREFIX}/lib/nuvrelos/heap_free.o)
set(NUVRELOS_RUN ${NUVRELOS_PREFIX}/bin/nuvrelos-run)
set(NUVRELOS_META ${NUVRELOS_PREFIX}/bin/nuvrelos-meta)
set(NUVRELOS_CC ${NUVRELOS_PREFIX}/bin/nuvrelos-cc)
set(NUVRELOS_CXX ${NUVRELOS_PREFIX}/bin/nuvrelos-c++)

foreach(file ${NUVRELOS_RUNTIME_ARCHIVE} ${NUVRELOS_CRT0} ${NUVRELOS_LINKER_SCRIPT} ${NUVRELOS_HEAP_FREE})
  if(NOT EXISTS ${file})
    set(nuvrelos_FOUND FALSE)
    set(nuvrelos_NOT_FOUND_MESSAGE "the nuvrelos SDK in ${NUVRELOS_PREFIX} lacks ${file}")
    return()
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/nuvrelos-rules.cmake)
if(NOT TARGET nuvrelos::runtime)
  add_library(nuvrelos::runtime STATIC IMPORTED)
  set_target_properties(nuvrelos::runtime PROPERTIES IMPORTED_LOCATION ${NUVRELOS_RUNTIME_ARCHIVE})
  nuvrelos_runtime_usage(nuvrelos::runtime INTERFACE ${NUVRELOS_INCLUDE_DIR}
                         ${NUVRELOS_PREFIX}/lib/nuvrelos)
endif()
