# The i386 world: freestanding code built by the host gcc in 32-bit mode, against our own
# headers and the compiler's freestanding ones only.

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -m32 -print-file-name=include
                OUTPUT_VARIABLE NUV_GCC_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -m32 -print-libgcc-file-name
                OUTPUT_VARIABLE NUV_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${NUV_LIBGCC}")
  message(FATAL_ERROR "no 32-bit libgcc: install gcc-multilib (scripts/setup)")
endif()

set(NUV_LINKER_SCRIPT ${PROJECT_SOURCE_DIR}/runtime/user.ld)

set(NUV_TARGET_FLAGS
  -m32 -march=i686 -mfpmath=387 -mno-sse
  -ffreestanding -nostdinc -isystem ${NUV_GCC_INCLUDE}
  # Keep our own byte loops from becoming calls to memcpy/memset/strlen (themselves).
  -fno-builtin -fno-tree-loop-distribute-patterns
  -fno-pie -fno-pic -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-common -O2 -g -Wall -Wextra)
if(NUV_WERROR)
  list(APPEND NUV_TARGET_FLAGS -Werror)
endif()
set(NUV_TARGET_CXX_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -std=gnu++17)

# Every target source is compiled with these flags and sees only runtime/ for its headers.
function(nuv_target_sources_setup tgt)
  target_compile_options(${tgt} PRIVATE ${NUV_TARGET_FLAGS}
    $<$<COMPILE_LANGUAGE:CXX>:${NUV_TARGET_CXX_FLAGS}>
    $<$<COMPILE_LANGUAGE:C>:-std=gnu11>)
  target_include_directories(${tgt} PRIVATE ${PROJECT_SOURCE_DIR}/runtime)
endfunction()

# nuv_add_program(NAME SOURCES...): a static i386 executable linked with the whole runtime,
# our linker script and the 32-bit libgcc (for 64-bit division) and nothing else.
function(nuv_add_program name)
  add_executable(${name} ${ARGN} $<TARGET_OBJECTS:nuv_runtime>)
  nuv_target_sources_setup(${name})
  set_target_properties(${name} PROPERTIES LINK_DEPENDS ${NUV_LINKER_SCRIPT})
  target_link_options(${name} PRIVATE -m32 -nostdlib -static -no-pie
    -Wl,-T,${NUV_LINKER_SCRIPT} -Wl,--build-id=none -Wl,-z,noexecstack
    -Wl,-Map,$<TARGET_FILE:${name}>.map)
  target_link_libraries(${name} PRIVATE ${NUV_LIBGCC})
endfunction()
