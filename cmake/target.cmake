# The i386 world: freestanding code built by the host gcc in 32-bit mode, against our own
# headers and the compiler's freestanding ones only. Programs are compiled and linked by the
# rules the SDK installs (sdk/nuvrelos-rules.cmake), against the runtime archive built here.
set(NUVRELOS_LINKER_SCRIPT ${PROJECT_SOURCE_DIR}/runtime/user.ld)
set(NUVRELOS_CRT0 $<TARGET_OBJECTS:nuvrelos_crt0>)
set(NUVRELOS_HEAP_FREE $<TARGET_OBJECTS:nuvrelos_heap_free>)
include(${PROJECT_SOURCE_DIR}/sdk/nuvrelos-rules.cmake)

# Our own target code is held to more than a user's: optimised, with debug information, and
# no warning let through.
set(NUV_TARGET_HOUSE_FLAGS -O2 -g -Wall -Wextra -fno-common
    $<$<COMPILE_LANGUAGE:CXX>:-std=gnu++17> $<$<COMPILE_LANGUAGE:C>:-std=gnu11>)
if(NUV_WERROR)
  list(APPEND NUV_TARGET_HOUSE_FLAGS -Werror)
endif()

# nuv_add_program(NAME SOURCES... [PACKAGE NAME]): nuvrelos_add_program under the house
# flags, with a link map beside the program (the build tests read it).
function(nuv_add_program name)
  nuvrelos_add_program(${ARGV})
  target_compile_options(${name} PRIVATE ${NUV_TARGET_HOUSE_FLAGS})
  target_link_options(${name} PRIVATE -Wl,-Map,$<TARGET_FILE:${name}>.map)
endfunction()

# For i386 code built outside the rules above (the benchmarks' Linux twin of a program): the
# same compile flags, the runtime's own headers, our linker script and the 32-bit libgcc.
set(NUV_LINKER_SCRIPT ${NUVRELOS_LINKER_SCRIPT})
execute_process(COMMAND ${CMAKE_C_COMPILER} -m32 -print-libgcc-file-name
                OUTPUT_VARIABLE NUV_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
function(nuv_target_sources_setup tgt)
  target_compile_options(${tgt} PRIVATE ${NUVRELOS_COMPILE_FLAGS} --sysroot=${NUVRELOS_STAGED_LIB}/sysroot
                         $<$<COMPILE_LANGUAGE:CXX>:${NUVRELOS_CXX_FLAGS}> ${NUV_TARGET_HOUSE_FLAGS}
                         -ffreestanding -fno-builtin -fno-tree-loop-distribute-patterns)
  target_include_directories(${tgt} PRIVATE ${PROJECT_SOURCE_DIR}/runtime ${NUVRELOS_STAGED_INCLUDE})
endfunction()
