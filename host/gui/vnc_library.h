// LibVNCServer, opened on first use like SDL2 (host/gui/sdl_library.h): only a run with
// --display vnc loads it and the TLS, JPEG and compression libraries it brings.
#pragma once

#include <rfb/rfb.h>

#include <string>

namespace nuv {

// The LibVNCServer functions and variables the VNC display uses, named without their rfb
// prefix.
struct VncLibrary {
#define NUV_VNC_FUNCTIONS(X)                     \
  X(GetScreen, rfbGetScreen)                     \
  X(InitServer, rfbInitServer)                   \
  X(ShutdownServer, rfbShutdownServer)           \
  X(ScreenCleanup, rfbScreenCleanup)             \
  X(ProcessEvents, rfbProcessEvents)             \
  X(MarkRectAsModified, rfbMarkRectAsModified)   \
  X(CheckPasswordByList, rfbCheckPasswordByList) \
  X(LogEnable, rfbLogEnable)
#define NUV_VNC_MEMBER(name, symbol) decltype(&::symbol) name = nullptr;
  NUV_VNC_FUNCTIONS(NUV_VNC_MEMBER)
#undef NUV_VNC_MEMBER
  // How long a write to one viewer may wait for it to read, in milliseconds.
  int* max_client_wait = nullptr;
};

// The library, loaded by the first call; null (with the reason in *why) when it cannot be.
const VncLibrary* vnc_library(std::string* why);

}  // namespace nuv
