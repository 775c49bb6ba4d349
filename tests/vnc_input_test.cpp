// What a VNC viewer sends, as the program receives it: the same key codes and button bits as
// the SDL window gives for the same keys and buttons, bounded queues, a button let go when its
// viewer leaves; the changed rectangles viewers are sent; the listen address.
#include "host/gui/vnc_input.h"

#include <SDL2/SDL_keycode.h>
#include <gtest/gtest.h>
#include <rfb/keysym.h>

#include <string>
#include <thread>
#include <vector>

#include "host/gui/sdl_display.h"
#include "host/gui/vnc_display.h"

namespace nuv {
namespace {

TEST(VncInput, KeysGiveTheCodesTheSdlWindowGivesForTheSameKeys) {
  struct Case {
    const char* what;
    uint32_t keysym;
    bool ctrl;
    int32_t sdl_key;  // what the SDL window sees for the same key press
    uint32_t sdl_mod;
    int32_t code;
  };
  const Case cases[] = {
      {"q", XK_q, false, SDLK_q, 0, 113},
      {"Shift-q", XK_Q, false, SDLK_q, KMOD_LSHIFT, 81},
      {"Caps Lock q (the viewer sends Q)", XK_Q, false, SDLK_q, KMOD_CAPS, 81},
      {"Escape", XK_Escape, false, SDLK_ESCAPE, 0, 27},
      {"Enter", XK_Return, false, SDLK_RETURN, 0, 13},
      {"Tab", XK_Tab, false, SDLK_TAB, 0, 9},
      {"Shift-Tab", XK_ISO_Left_Tab, false, SDLK_TAB, KMOD_LSHIFT, 9},
      {"Backspace", XK_BackSpace, false, SDLK_BACKSPACE, 0, 8},
      {"Delete", XK_Delete, false, SDLK_DELETE, 0, 127},
      {"Space", XK_space, false, SDLK_SPACE, 0, 32},
      {"Ctrl-q", XK_q, true, SDLK_q, KMOD_LCTRL, 17},
      {"Ctrl-Shift-q", XK_Q, true, SDLK_q, KMOD_LCTRL | KMOD_LSHIFT, 17},
      {"1", XK_1, false, SDLK_1, 0, '1'},
      {"Shift-1 (the viewer sends !)", XK_exclam, false, SDLK_1, KMOD_LSHIFT, '1'},
      {"Shift-/ (the viewer sends ?)", XK_question, false, SDLK_SLASH, KMOD_LSHIFT, '/'},
      {"Shift-` (the viewer sends ~)", XK_asciitilde, false, SDLK_BACKQUOTE, KMOD_LSHIFT, '`'},
      {"Shift-' (the viewer sends \")", XK_quotedbl, false, SDLK_QUOTE, KMOD_LSHIFT, '\''},
      {"Ctrl-[", XK_bracketleft, true, SDLK_LEFTBRACKET, KMOD_LCTRL, '['},
      {"an arrow", XK_Left, false, SDLK_LEFT, 0, -1},
      {"F1", XK_F1, false, SDLK_F1, 0, -1},
      {"keypad 1", XK_KP_1, false, SDLK_KP_1, 0, -1},
      {"keypad Enter", XK_KP_Enter, false, SDLK_KP_ENTER, 0, -1},
      {"e acute", XK_eacute, false, 0xE9, 0, -1},
      {"Shift alone", XK_Shift_L, false, SDLK_LSHIFT, 0, -1},
      {"a control character as keysym", 0x11, false, 0x11, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(vnc_key_code(c.keysym, c.ctrl), c.code);
    // SDL has no key for a control character.
    if (c.keysym != 0x11) {
      EXPECT_EQ(gui_key_code(c.sdl_key, c.sdl_mod), c.code) << "SDL differs";
    }
  }
}

TEST(VncInput, ButtonsAreTheSdlWindowsBits) {
  struct Case {
    int32_t mask;
    int32_t buttons;
  };
  // RFB: 1 left, 2 middle, 4 right, 8 and 16 the wheel. Ours: 1 left, 2 right, 4 middle.
  const Case cases[] = {{0, 0}, {1, 1}, {2, 4}, {4, 2}, {7, 7}, {8, 0}, {16 | 1, 1}, {0xFF, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(vnc_buttons(c.mask), c.buttons);
  }
}

std::vector<GuiEvent> taken(ViewerInput& input) {
  std::vector<GuiEvent> out;
  input.take(out, 0);
  return out;
}

TEST(VncInput, ViewerEventsBecomeTheProgramsInOrderAndBounded) {
  ViewerInput input(640, 360);
  ViewerState a, b;
  input.pointer(a, 0, 10, 20);
  input.pointer(a, 0, 11, 21);    // replaces the move before it
  input.pointer(a, 1, 11, 21);    // a press is kept
  input.pointer(a, 8, 11, 21);    // the wheel alone: nothing
  input.pointer(b, 0, 9000, -5);  // beyond the edges: at the edges
  input.key(a, true, XK_Control_L);
  input.key(a, true, XK_q);
  input.key(b, true, XK_q);   // b holds no Ctrl
  input.key(a, false, XK_q);  // releases make nothing
  input.key(a, false, XK_Control_L);
  input.key(a, true, XK_q);
  std::vector<GuiEvent> expected = {pointer_event(11, 21, 0), pointer_event(11, 21, 1),
                                    pointer_event(639, 0, 0), key_event(17),
                                    key_event(113),           key_event(113)};
  std::vector<GuiEvent> got = taken(input);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].type, expected[i].type);
    EXPECT_EQ(got[i].word1, expected[i].word1);
    EXPECT_EQ(got[i].word2, expected[i].word2);
    EXPECT_EQ(got[i].word3, expected[i].word3);
  }
  EXPECT_TRUE(taken(input).empty());

  // A flood of keys is cut at the bound; the program gets the first ones.
  for (size_t i = 0; i < 3 * ViewerInput::kMaxPending; ++i) input.key(a, true, XK_a);
  EXPECT_EQ(taken(input).size(), ViewerInput::kMaxPending);
}

TEST(VncInput, AViewerThatLeavesLetsGoOfItsButton) {
  ViewerInput input(640, 360);
  ViewerState holding, idle;
  input.pointer(holding, 1, 100, 50);
  input.gone(holding);
  input.gone(idle);  // nothing held, nothing to let go
  std::vector<GuiEvent> got = taken(input);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].word1, 100);
  EXPECT_EQ(got[1].word2, 50);
  EXPECT_EQ(got[1].word3, 0);
}

TEST(VncInput, TakingWaitsForTheFirstEventOrTheTimeout) {
  ViewerInput input(640, 360);
  ViewerState v;
  std::thread viewer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    input.key(v, true, XK_q);
  });
  std::vector<GuiEvent> out;
  input.take(out, 60'000);
  viewer.join();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].word1, 113);
  input.interrupt();
  input.take(out, 60'000);  // returns at once
  EXPECT_TRUE(out.empty());
}

TEST(VncChanges, OnlyChangedBandsAndColumnsAreSent) {
  const int32_t w = 64, h = 40;  // the last band is 8 rows
  struct Change {
    int32_t x, y;
  };
  struct Case {
    const char* what;
    std::vector<Change> changes;
    std::vector<ChangedRect> rects;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      {"one pixel", {{5, 3}}, {{5, 0, 6, 16}}},
      {"first and last pixel", {{0, 0}, {63, 39}}, {{0, 0, 1, 16}, {63, 32, 64, 40}}},
      {"a span in one band", {{10, 17}, {20, 30}, {15, 25}}, {{10, 16, 21, 32}}},
      {"across a band edge", {{7, 15}, {8, 16}}, {{7, 0, 8, 16}, {8, 16, 9, 32}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Surface shown(w, h, 0x111111), picture(w, h, 0x111111);
    for (const Change& p : c.changes) picture.row(p.y)[p.x] = 0xABCDEF;
    EXPECT_EQ(apply_changes(picture, shown), c.rects);
    EXPECT_EQ(shown.pixels, picture.pixels) << "not everything was copied";
    EXPECT_TRUE(apply_changes(picture, shown).empty()) << "a second time, nothing changed";
  }
  Surface other(w + 1, h);
  Surface shown(w, h);
  EXPECT_TRUE(apply_changes(other, shown).empty()) << "another size is not compared";
}

TEST(VncListen, AddressesAndPortsAreReadOrRefused) {
  struct Case {
    std::string text;
    bool ok;
    std::string address;
    uint16_t port;
    bool loopback;
  };
  const Case cases[] = {
      {":", true, "127.0.0.1", 0, true},
      {":5900", true, "127.0.0.1", 5900, true},
      {"0.0.0.0:5901", true, "0.0.0.0", 5901, false},
      {"127.0.0.2:", true, "127.0.0.2", 0, true},
      {"localhost:65535", true, "127.0.0.1", 65535, true},
      {"10.1.2.3:1", true, "10.1.2.3", 1, false},
      {"5900", false, "", 0, false},
      {"::1:5900", false, "", 0, false},
      {"host.example:5900", false, "", 0, false},
      {":65536", false, "", 0, false},
      {":-1", false, "", 0, false},
      {":+5", false, "", 0, false},
      {": 5", false, "", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    auto parsed = parse_vnc_listen(c.text, &error);
    ASSERT_EQ(parsed.has_value(), c.ok) << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(parsed->address, c.address);
    EXPECT_EQ(parsed->port, c.port);
    EXPECT_EQ(is_loopback_address(parsed->address), c.loopback);
  }
}

}  // namespace
}  // namespace nuv
