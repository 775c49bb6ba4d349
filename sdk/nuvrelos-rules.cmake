# How a nuvrelos program is compiled and linked. The repository's own programs and the
# installed SDK (find_package(nuvrelos)) both use this file, so they cannot drift apart.
#
# Whoever includes it provides the target nuvrelos::runtime (the runtime archive) and sets
# NUVRELOS_CRT0 (the start-up object), NUVRELOS_HEAP_FREE (the opt-in heap's object) and
# NUVRELOS_LINKER_SCRIPT.
include_guard(GLOBAL)

# i386 code at fixed addresses, compiled as hosted C and C++ (main falls off its end with 0, and
# the compiler knows the library's functions), with nothing of the host's C library: the SDK's
# sysroot is an empty directory, so the only headers are the SDK's own and the compiler's
# (stddef.h, float.h, and for C++ its freestanding library), wherever that compiler keeps them.
# The host's system macros go and the system's own takes their place. The compiler must not
# fold what the system's formatters return from ISO C's rules ("%.0d" of 0 is "0" here).
set(NUVRELOS_COMPILE_FLAGS -m32 -march=i686 -mfpmath=387 -mno-sse -fno-pie -fno-pic
    -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables
    -fno-printf-return-value -U__linux__ -U__linux -Ulinux -U__gnu_linux__ -U__unix__ -U__unix
    -Uunix -D__nuvrelos__=1)
# Nothing in the runtime throws, describes types or locks. The heap's blocks are 4-byte
# aligned, so new of any type that needs more takes the aligned operator new.
set(NUVRELOS_CXX_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -faligned-new=4)
# __cxa_pure_virtual is referenced weakly by the compiler's vtables: asked for by name, it is
# linked into every program, and a pure virtual call ends in its message, not at address 0.
set(NUVRELOS_LINK_FLAGS -m32 -nostdlib -static -no-pie -Wl,--build-id=none -Wl,-z,noexecstack
    -Wl,-u,__cxa_pure_virtual)

# Checks that the project's compiler can build 32-bit code.
function(nuvrelos_check_compiler)
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
endfunction()

# Usage requirements of the runtime archive: what every program's sources are compiled with
# and how the program is linked (start-up object first, the archive, then the 32-bit libgcc
# for 64-bit division). `scope` is INTERFACE for an imported archive, PUBLIC for the one
# built here; `lib_dir` holds the sysroot and the empty libm.a that lets -lm link.
function(nuvrelos_runtime_usage target scope include_dir lib_dir)
  nuvrelos_check_compiler()
  target_include_directories(${target} SYSTEM ${scope} ${include_dir})
  target_compile_options(${target} ${scope} ${NUVRELOS_COMPILE_FLAGS} --sysroot=${lib_dir}/sysroot
                         $<$<COMPILE_LANGUAGE:CXX>:${NUVRELOS_CXX_FLAGS}>)
  target_link_options(${target} INTERFACE ${NUVRELOS_LINK_FLAGS} --sysroot=${lib_dir}/sysroot
                      "-Wl,-T,${NUVRELOS_LINKER_SCRIPT}" -L${lib_dir})
  target_link_libraries(${target} INTERFACE -lgcc)
endfunction()

# nuvrelos_add_program(NAME SOURCES... [PACKAGE PACKAGE_NAME] [HEAP SIZE])
# A nuvrelos executable from C and C++ sources. PACKAGE adds the package record naming the
# package the program belongs to (see NUVRELOS_PACKAGE in nuvrelos.h). HEAP (or, for every
# program, the variable NUVRELOS_HEAP) links the heap whose free reuses memory, over an arena
# of SIZE bytes (a number, K or M suffix allowed); without it a program has the bump heap.
function(nuvrelos_add_program name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PACKAGE;HEAP" "")
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
  set(heap ${NUVRELOS_HEAP})
  if(DEFINED arg_HEAP OR "HEAP" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    set(heap ${arg_HEAP})
    if(NOT heap MATCHES "^[1-9][0-9]*[KM]?$")
      message(FATAL_ERROR "nuvrelos_add_program(${name}): HEAP needs a size in bytes (K or M "
                          "suffix allowed), not \"${arg_HEAP}\"")
    endif()
  endif()
  if(NUVRELOS_TOOLCHAIN)
    # The compilers are the SDK's drivers: they bring start-up, runtime and layout themselves.
    add_executable(${name} ${sources})
    if(heap)
      target_link_options(${name} PRIVATE --nuvrelos-heap=${heap})
    endif()
  else()
    if(heap)
      # Before the archive, so the archive's bump heap is never pulled in.
      list(PREPEND sources ${NUVRELOS_HEAP_FREE})
    endif()
    add_executable(${name} ${NUVRELOS_CRT0} ${sources})
    target_link_libraries(${name} PRIVATE nuvrelos::runtime)
    if(heap)
      target_link_options(${name} PRIVATE -Wl,--defsym=nuvrelos_heap_size=${heap})
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${NUVRELOS_LINKER_SCRIPT})
  endif()
endfunction()
