# A whole cross build for nuvrelos, every target of the project a nuvrelos program:
#   cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=P/lib/cmake/nuvrelos/nuvrelos-toolchain.cmake
# The compilers are the SDK's drivers, so a plain add_executable links a program, and
# add_test runs it under nuvrelos-run.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i386)
get_filename_component(_nuvrelos_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(CMAKE_C_COMPILER ${_nuvrelos_prefix}/bin/nuvrelos-cc)
set(CMAKE_CXX_COMPILER ${_nuvrelos_prefix}/bin/nuvrelos-c++)
set(CMAKE_ASM_COMPILER ${_nuvrelos_prefix}/bin/nuvrelos-cc)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_nuvrelos_prefix}/bin/nuvrelos-run)
# nuvrelos_add_program (find_package(nuvrelos)) then leaves compiling and linking to them.
set(NUVRELOS_TOOLCHAIN ON)
