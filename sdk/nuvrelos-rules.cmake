# How a nuvrelos program is compiled and linked. The repository's own programs and the
# installed SDK (find_package(nuvrelos)) both use this file, so they cannot drift apart.
#
# Whoever includes it provides the target nuvrelos::runtime (the runtime archive) and sets
# NUVRELOS_CRT0 (the start-up object) and NUVRELOS_LINKER_SCRIPT.
include_guard(GLOBAL)

# i386, no host C library or start-up files, code at fixed addresses. The compiler's own
# freestanding headers (stddef.h, stdint.h, stdarg.h...) are the only ones besides ours.
set(NUVRELOS_COMPILE_FLAGS -m32 -march=i686 -mfpmath=387 -mno-sse -ffreestanding -nostdinc
    -fno-pie -fno-pic -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables)
# Nothing in the runtime throws, describes types or locks. The heap's blocks are 4-byte
# aligned, so new of any type that needs more takes the aligned operator new.
set(NUVRELOS_CXX_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -faligned-new=4)
set(NUVRELOS_LINK_FLAGS -m32 -nostdlib -static -no-pie -Wl,--build-id=none -Wl,-z,noexecstack)

# The directory of the compiler's freestanding headers, asked of whichever compiler the
# project has.
function(nuvrelos_compiler_include_dir out)
  if(CMAKE_C_COMPILER)
    set(compiler ${CMAKE_C_COMPILER})
  elseif(CMAKE_CXX_COMPILER)
    set(compiler ${CMAKE_CXX_COMPILER})
  else()
    message(FATAL_ERROR "nuvrelos: enable C or CXX in project() before find_package(nuvrelos)")
  endif()
  execute_process(COMMAND ${compiler} -m32 -print-file-name=include OUTPUT_VARIABLE dir
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${compiler} -m32 -print-libgcc-file-name OUTPUT_VARIABLE libgcc
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${dir}/stddef.h" OR NOT EXISTS "${libgcc}")
    message(FATAL_ERROR "nuvrelos: ${compiler} cannot build 32-bit code (no 32-bit libgcc or "
                        "freestanding headers): install gcc-multilib and g++-multilib")
  endif()
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# Usage requirements of the runtime archive: what every program's sources are compiled with
# and how the program is linked (start-up object first, the archive, then the 32-bit libgcc
# for 64-bit division). `scope` is INTERFACE for an imported archive, PUBLIC for the one
# built here.
function(nuvrelos_runtime_usage target scope include_dir)
  nuvrelos_compiler_include_dir(compiler_include)
  target_include_directories(${target} SYSTEM ${scope} ${include_dir})
  # As an option, not an include directory: CMake leaves out the compiler's own directories.
  target_compile_options(${target} ${scope} ${NUVRELOS_COMPILE_FLAGS}
                         "SHELL:-isystem ${compiler_include}"
                         $<$<COMPILE_LANGUAGE:CXX>:${NUVRELOS_CXX_FLAGS}>)
  target_link_options(${target} INTERFACE ${NUVRELOS_LINK_FLAGS}
                      "-Wl,-T,${NUVRELOS_LINKER_SCRIPT}")
  target_link_libraries(${target} INTERFACE -lgcc)
endfunction()

# nuvrelos_add_program(NAME SOURCES... [PACKAGE PACKAGE_NAME])
# A nuvrelos executable from C and C++ sources. PACKAGE adds the package record naming the
# package the program belongs to (see NUVRELOS_PACKAGE in nuvrelos.h).
function(nuvrelos_add_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PACKAGE" "")
  set(sources ${arg_UNPARSED_ARGUMENTS})
  if(NOT sources)
    message(FATAL_ERROR "nuvrelos_add_program(${name}): no source files")
  endif()
  if(DEFINED arg_PACKAGE OR "PACKAGE" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    if(NOT arg_PACKAGE MATCHES "^[A-Za-z0-9._+-]+$")
      message(FATAL_ERROR "nuvrelos_add_program(${name}): PACKAGE needs a name of letters, "
                          "digits and . _ + -, not \"${arg_PACKAGE}\"")
    endif()
    get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
    set(ext cpp)
    if("C" IN_LIST languages)
      set(ext c)
    endif()
    set(record ${CMAKE_CURRENT_BINARY_DIR}/${name}_package.${ext})
    file(CONFIGURE OUTPUT ${record}
         CONTENT "#include <nuvrelos.h>\n\nNUVRELOS_PACKAGE(\"${arg_PACKAGE}\");\n")
    list(APPEND sources ${record})
  endif()
  if(NUVRELOS_TOOLCHAIN)
    # The compilers are the SDK's drivers: they bring start-up, runtime and layout themselves.
    add_executable(${name} ${sources})
  else()
    add_executable(${name} ${NUVRELOS_CRT0} ${sources})
    target_link_libraries(${name} PRIVATE nuvrelos::runtime)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${NUVRELOS_LINKER_SCRIPT})
  endif()
endfunction()
