/*
 * The records the GUI services pass, as they lie in the program's memory: little-endian,
 * 32-bit, no padding. A program sees addresses as pointers; the host, which reads them out of
 * the program's memory, as 32-bit numbers. The sizes and offsets below are checked in both.
 * Like Linux's uapi headers, these need no C library: int is 32 bits and char 8 in both worlds
 * (int32_t and uint8_t are those types there), which the checks below hold to.
 */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
#define NUVRELOS_LAYOUT_CHECK(condition, what) static_assert(condition, what)
#else
#define NUVRELOS_LAYOUT_CHECK(condition, what) _Static_assert(condition, what)
#endif

/* An address in the program's memory: a pointer to the program, a number to the host. */
#ifdef NUVRELOS_HOST
#define NUVRELOS_GUEST_POINTER(type) unsigned int
#else
#define NUVRELOS_GUEST_POINTER(type) type*
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Names one compositor window; negative reports failure. */
typedef int GuiHandle;

typedef struct GuiColor {
  unsigned char r;
  unsigned char g;
  unsigned char b;
  unsigned char zero; /* always 0 */
} GuiColor;

typedef struct GuiRect {
  int x;
  int y;
  int w;
  int h;
  GuiColor color;
} GuiRect;

typedef struct GuiText {
  int x;
  int y;
  GuiColor color;
  NUVRELOS_GUEST_POINTER(const char) text; /* NUL-terminated, at most NUVRELOS_TEXT_MAX bytes */
} GuiText;

typedef struct GuiSize {
  int width;
  int height;
} GuiSize;

/* The event types, and the pointer's button bits. */
enum { GUI_EVENT_KEY = 1, GUI_EVENT_POINTER = 2 };
enum { GUI_BUTTON_LEFT = 1, GUI_BUTTON_RIGHT = 2, GUI_BUTTON_MIDDLE = 4 };

/* Key codes are the characters the keys type (q 113, Q 81, Ctrl with a letter its control code),
   and these for the keys that type none of their own. */
enum {
  GUI_KEY_BACKSPACE = 8,
  GUI_KEY_TAB = 9,
  GUI_KEY_ENTER = 13,
  GUI_KEY_ESCAPE = 27,
  GUI_KEY_SPACE = 32,
  GUI_KEY_DELETE = 127
};

/* Key: word1 is the key code. Pointer: word1 x, word2 y, word3 button bits (bit 0 primary). */
typedef struct GuiEvent {
  int type;
  int word1;
  int word2;
  int word3;
  int word4;
} GuiEvent;

#ifdef __cplusplus
}
#endif

NUVRELOS_LAYOUT_CHECK(sizeof(int) == 4 && sizeof(unsigned char) == 1, "int is 32 bits, char 8");
NUVRELOS_LAYOUT_CHECK(sizeof(GuiColor) == 4, "GuiColor is 4 bytes");
NUVRELOS_LAYOUT_CHECK(sizeof(GuiRect) == 20 && offsetof(GuiRect, x) == 0 &&
                          offsetof(GuiRect, y) == 4 && offsetof(GuiRect, w) == 8 &&
                          offsetof(GuiRect, h) == 12 && offsetof(GuiRect, color) == 16,
                      "GuiRect is x, y, w, h and a colour, 20 bytes");
NUVRELOS_LAYOUT_CHECK(sizeof(GuiText) == 16 && offsetof(GuiText, x) == 0 &&
                          offsetof(GuiText, y) == 4 && offsetof(GuiText, color) == 8 &&
                          offsetof(GuiText, text) == 12,
                      "GuiText is x, y, a colour and a 32-bit address, 16 bytes");
NUVRELOS_LAYOUT_CHECK(sizeof(GuiSize) == 8 && offsetof(GuiSize, width) == 0 &&
                          offsetof(GuiSize, height) == 4,
                      "GuiSize is width and height, 8 bytes");
NUVRELOS_LAYOUT_CHECK(sizeof(GuiEvent) == 20 && offsetof(GuiEvent, type) == 0 &&
                          offsetof(GuiEvent, word1) == 4 && offsetof(GuiEvent, word2) == 8 &&
                          offsetof(GuiEvent, word3) == 12 && offsetof(GuiEvent, word4) == 16,
                      "GuiEvent is five 32-bit words, 20 bytes");
