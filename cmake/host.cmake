# The x86-64 world: the emulator, simulated kernel, compositor, runner, tests, benchmarks.
find_package(PkgConfig REQUIRED)
# Unicorn 2.1 or later: 2.0 sends every guest store through a slow path. scripts/setup unpacks
# Debian 13's copy into .deps/ when the system's is older; that copy comes first. The lookup is
# redone at every configure, so a build directory set up before the copy existed picks it up.
set(NUV_UNICORN_MINIMUM 2.1)
set(NUV_PRIVATE_UNICORN ${PROJECT_SOURCE_DIR}/.deps/unicorn/usr/lib/x86_64-linux-gnu/pkgconfig)
if(EXISTS ${NUV_PRIVATE_UNICORN}/unicorn.pc)
  set(ENV{PKG_CONFIG_PATH} "${NUV_PRIVATE_UNICORN}:$ENV{PKG_CONFIG_PATH}")
endif()
unset(__pkg_config_checked_UNICORN CACHE)
unset(pkgcfg_lib_UNICORN_unicorn CACHE)
pkg_check_modules(UNICORN QUIET IMPORTED_TARGET unicorn)
if(NOT UNICORN_FOUND OR UNICORN_VERSION VERSION_LESS NUV_UNICORN_MINIMUM)
  if(UNICORN_FOUND)
    set(nuv_found "Unicorn ${UNICORN_VERSION} was found")
  else()
    set(nuv_found "no Unicorn was found")
  endif()
  message(FATAL_ERROR "nuvrelos needs Unicorn ${NUV_UNICORN_MINIMUM} or later, and ${nuv_found}: "
                      "run scripts/setup (it unpacks Debian 13's Unicorn into .deps/), then "
                      "configure again.")
endif()
# Host programs linking the shared copy find it through their build-tree RPATH; installed, they
# find the one the SDK installs beside them in lib/ (sdk/CMakeLists.txt).
# The runner links the static library when there is one (see host/CMakeLists.txt).
unset(NUV_UNICORN_STATIC CACHE)
find_library(NUV_UNICORN_STATIC NAMES libunicorn.a PATHS ${UNICORN_LIBRARY_DIRS} NO_DEFAULT_PATH)
pkg_check_modules(LIBELF REQUIRED IMPORTED_TARGET libelf)
pkg_check_modules(LIBDW REQUIRED IMPORTED_TARGET libdw)
# SDL2's headers: the system's (libsdl2-dev), else the copy scripts/setup unpacks into .deps/
# (SDL2 itself is opened at run time).
pkg_check_modules(SDL2 QUIET sdl2)
if(NOT SDL2_FOUND)
  set(nuv_sdl2 ${PROJECT_SOURCE_DIR}/.deps/sdl2/usr/include)
  if(NOT EXISTS ${nuv_sdl2}/SDL2/SDL.h)
    message(FATAL_ERROR "nuvrelos needs SDL2's headers: run scripts/setup (it unpacks them into "
                        ".deps/), or install libsdl2-dev; then configure again.")
  endif()
  set(SDL2_INCLUDE_DIRS ${nuv_sdl2}/SDL2 ${nuv_sdl2} ${nuv_sdl2}/x86_64-linux-gnu)
  set(SDL2_CFLAGS_OTHER -D_REENTRANT)
endif()
# LibVNCServer is opened on first use (host/gui/vnc_library): the server's headers only, from
# libvncserver-dev or the copy scripts/setup unpacks into .deps/ like SDL2's. The tests and
# benchmarks are viewers: they link libvncclient, which only their set-up installs.
pkg_check_modules(VNCSERVER QUIET libvncserver)
if(NOT VNCSERVER_FOUND)
  set(nuv_vncserver ${PROJECT_SOURCE_DIR}/.deps/vncserver/usr/include)
  if(NOT EXISTS ${nuv_vncserver}/rfb/rfb.h)
    message(FATAL_ERROR "nuvrelos needs LibVNCServer's headers: run scripts/setup (it unpacks "
                        "them into .deps/), or install libvncserver-dev; then configure again.")
  endif()
  set(VNCSERVER_INCLUDE_DIRS ${nuv_vncserver})
endif()
if(NUV_BUILD_TESTS OR NUV_BUILD_BENCH)
  pkg_check_modules(VNCCLIENT REQUIRED IMPORTED_TARGET libvncclient)
endif()
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(CLI11 CONFIG REQUIRED)
find_package(Threads REQUIRED)

add_library(nuv_host_options INTERFACE)
target_compile_features(nuv_host_options INTERFACE cxx_std_20)
# Designated initializers that leave members at their defaults are the point, not a slip.
target_compile_options(nuv_host_options INTERFACE -Wall -Wextra -g
                       -Wno-missing-field-initializers)
if(NUV_WERROR)
  target_compile_options(nuv_host_options INTERFACE -Werror)
endif()
# The program interface (abi/) gives the host the program's addresses as 32-bit numbers.
target_compile_definitions(nuv_host_options INTERFACE NUVRELOS_HOST)
if(NUV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "NUV_FUZZ needs clang for libFuzzer (scripts/fuzz chooses it)")
  endif()
  # Coverage for libFuzzer in everything the targets reach, not only in the targets.
  target_compile_options(nuv_host_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(nuv_host_options INTERFACE -fsanitize=address,undefined)
elseif(NUV_SANITIZE)
  # GCC's flow analysis sees the sanitizers' checks as paths that skip initialisation and
  # warns falsely inside the standard library (std::regex, std::function); the plain build
  # keeps the warning.
  target_compile_options(nuv_host_options INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer
                         $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
  target_link_options(nuv_host_options INTERFACE -fsanitize=address,undefined)
endif()
