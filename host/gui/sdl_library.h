// SDL2, opened on first use. A run that never shows a window (every test, every headless run)
// does not pay for loading SDL and the dozens of display and sound libraries it brings: that
// loading was most of a trivial program's start-up.
#pragma once

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <string>

namespace nuv {

// The SDL functions the display uses, named without their SDL_ prefix.
struct SdlLibrary {
#define NUV_SDL_FUNCTIONS(X)                                                               \
  X(SetHint)                                                                               \
  X(InitSubSystem)                                                                         \
  X(QuitSubSystem)                                                                         \
  X(GetError) X(CreateWindow) X(DestroyWindow) X(SetWindowTitle) X(GetWindowSurface)       \
      X(CreateRGBSurfaceWithFormatFrom) X(UpperBlit) X(FreeSurface) X(UpdateWindowSurface) \
          X(PollEvent) X(WaitEventTimeout) X(ShowCursor) X(WarpMouseInWindow) X(GetWindowWMInfo)
#define NUV_SDL_MEMBER(name) decltype(&::SDL_##name) name = nullptr;
  NUV_SDL_FUNCTIONS(NUV_SDL_MEMBER)
#undef NUV_SDL_MEMBER
};

// The library, loaded by the first call; null (with the reason in *why) when it cannot be.
const SdlLibrary* sdl_library(std::string* why);

}  // namespace nuv
