#include "host/gui/vnc_library.h"

#include <dlfcn.h>

namespace nuv {
namespace {

// The soname Debian's libvncserver1 installs; the -dev package is not needed at run time.
constexpr const char* kVncSoname = "libvncserver.so.1";

struct Loaded {
  VncLibrary functions;
  std::string error;  // empty once loaded
};

void* resolve(void* handle, const char* symbol, std::string& error) {
  void* found = ::dlsym(handle, symbol);
  if (found == nullptr && error.empty()) {
    error = std::string("cannot load LibVNCServer: ") + kVncSoname + " has no " + symbol;
  }
  return found;
}

Loaded load() {
  Loaded out;
  void* handle = ::dlopen(kVncSoname, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    out.error = std::string("cannot load LibVNCServer (Debian package libvncserver1): ") +
                (why ? why : kVncSoname);
    return out;
  }
  // The handle stays open for the life of the process, as SDL's does.
  // rfbInitServer is a macro naming the variant built with the library's options; the symbol
  // is the expansion.
#define NUV_VNC_STRING(symbol) #symbol
#define NUV_VNC_SYMBOL(symbol) NUV_VNC_STRING(symbol)
#define NUV_VNC_RESOLVE(name, symbol)                                  \
  out.functions.name = reinterpret_cast<decltype(out.functions.name)>( \
      resolve(handle, NUV_VNC_SYMBOL(symbol), out.error));
  NUV_VNC_FUNCTIONS(NUV_VNC_RESOLVE)
#undef NUV_VNC_RESOLVE
#undef NUV_VNC_SYMBOL
#undef NUV_VNC_STRING
  out.functions.max_client_wait = static_cast<int*>(resolve(handle, "rfbMaxClientWait", out.error));
  return out;
}

}  // namespace

const VncLibrary* vnc_library(std::string* why) {
  static const Loaded loaded = load();
  if (!loaded.error.empty()) {
    if (why) *why = loaded.error;
    return nullptr;
  }
  return &loaded.functions;
}

}  // namespace nuv
