#include "host/gui/sdl_library.h"

#include <dlfcn.h>

namespace nuv {
namespace {

// The soname Debian's libsdl2-2.0-0 installs; the -dev package is not needed at run time.
constexpr const char* kSdlSoname = "libSDL2-2.0.so.0";

struct Loaded {
  SdlLibrary functions;
  std::string error;  // empty once loaded
};

Loaded load() {
  Loaded out;
  void* handle = ::dlopen(kSdlSoname, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    out.error = std::string("cannot load SDL2: ") + (why ? why : kSdlSoname);
    return out;
  }
  // The handle stays open for the life of the process: SDL keeps threads and state.
#define NUV_SDL_RESOLVE(name)                                                        \
  out.functions.name =                                                               \
      reinterpret_cast<decltype(out.functions.name)>(::dlsym(handle, "SDL_" #name)); \
  if (out.functions.name == nullptr) {                                               \
    out.error = std::string("cannot load SDL2: it has no SDL_") + #name;             \
    return out;                                                                      \
  }
  NUV_SDL_FUNCTIONS(NUV_SDL_RESOLVE)
#undef NUV_SDL_RESOLVE
  return out;
}

}  // namespace

const SdlLibrary* sdl_library(std::string* why) {
  static const Loaded loaded = load();
  if (!loaded.error.empty()) {
    if (why) *why = loaded.error;
    return nullptr;
  }
  return &loaded.functions;
}

}  // namespace nuv
