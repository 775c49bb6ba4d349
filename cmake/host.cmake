# The x86-64 world: the emulator, simulated kernel, compositor, runner, tests, benchmarks.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UNICORN REQUIRED IMPORTED_TARGET unicorn)
pkg_check_modules(LIBELF REQUIRED IMPORTED_TARGET libelf)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(CLI11 CONFIG REQUIRED)
find_package(Threads REQUIRED)

add_library(nuv_host_options INTERFACE)
target_compile_features(nuv_host_options INTERFACE cxx_std_20)
# Designated initializers that leave members at their defaults are the point, not a slip.
target_compile_options(nuv_host_options INTERFACE -Wall -Wextra -Werror -g
                       -Wno-missing-field-initializers)
target_include_directories(nuv_host_options INTERFACE ${PROJECT_SOURCE_DIR})
if(NUV_SANITIZE)
  target_compile_options(nuv_host_options INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(nuv_host_options INTERFACE -fsanitize=address,undefined)
endif()
