// The VNC display's reader of viewers' input on arbitrary bytes: RFB's key and pointer
// messages (as LibVNCServer hands them over) from up to four viewers, which come and go. Every
// event the program gets is one the SDL window could make (a key code of the ASCII range, a
// pointer inside the content area with button bits 0 to 7), the queue never holds more than
// its bound, and a viewer that leaves holds no button. The changed rectangles of two pictures
// the input paints cover exactly the pixels that differ.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "host/gui/vnc_input.h"

namespace {

constexpr int32_t kWidth = 37, kHeight = 21;

void check(const GuiEvent& e) {
  if (e.type == GUI_EVENT_KEY) {
    if (e.word1 < 0 || e.word1 > 127) std::abort();
  } else if (e.type == GUI_EVENT_POINTER) {
    if (e.word1 < 0 || e.word1 >= kWidth || e.word2 < 0 || e.word2 >= kHeight || e.word3 < 0 ||
        e.word3 > 7) {
      std::abort();
    }
  } else {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nuv::ViewerInput input(kWidth, kHeight);
  nuv::ViewerState viewers[4];
  nuv::Surface before(kWidth, kHeight), after(kWidth, kHeight);
  std::vector<GuiEvent> events;
  size_t at = 0;
  auto byte = [&]() -> uint32_t { return at < size ? data[at++] : 0; };
  while (at < size) {
    nuv::ViewerState& v = viewers[byte() % 4];
    switch (byte()) {
      case 4: {  // KeyEvent: down flag, two bytes of padding, the keysym
        bool down = byte() != 0;
        byte();
        byte();
        uint32_t keysym = (byte() << 24) | (byte() << 16) | (byte() << 8) | byte();
        input.key(v, down, keysym);
        break;
      }
      case 5: {  // PointerEvent: the button mask, x and y
        int32_t mask = static_cast<int32_t>(byte());
        int32_t x = static_cast<int32_t>((byte() << 8) | byte());
        int32_t y = static_cast<int32_t>((byte() << 8) | byte());
        input.pointer(v, mask, x, y);
        break;
      }
      case 0xFF:  // the viewer leaves, and another takes its place
        input.gone(v);
        if (v.buttons != 0) std::abort();
        v = nuv::ViewerState();
        break;
      case 0xFE:  // the program takes what is pending
        input.take(events, 0);
        if (events.size() > nuv::ViewerInput::kMaxPending) std::abort();
        for (const GuiEvent& e : events) {
          check(e);
          if (e.type == GUI_EVENT_POINTER) after.row(e.word2)[e.word1] ^= 0x10101u * (e.word3 + 1);
        }
        break;
      default:
        break;
    }
  }
  input.take(events, 0);
  if (events.size() > nuv::ViewerInput::kMaxPending) std::abort();
  for (const GuiEvent& e : events) check(e);

  nuv::Surface shown = before;
  std::vector<nuv::ChangedRect> rects = nuv::apply_changes(after, shown);
  if (shown.pixels != after.pixels) std::abort();
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      bool covered = false;
      for (const nuv::ChangedRect& r : rects)
        covered |= x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
      if (before.at(x, y) != after.at(x, y) && !covered) std::abort();
    }
  }
  return 0;
}
