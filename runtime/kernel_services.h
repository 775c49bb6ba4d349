/*
 * The one list of nuvrelos kernel services. The target's service numbers, the simulated
 * kernel's dispatch table and the trace's names and argument decoders are all generated from
 * it, so a service is added or renumbered here and nowhere else.
 *
 * X(number, name, slot1, slot2, slot3): each slot names the shape of that argument so the
 * host can decode it. The target ignores the shapes. Shapes:
 *   NONE     slot not used
 *   INT      signed integer          HEX   unsigned, shown in hex
 *   FD       descriptor              FLAG  on/off value
 *   COUNT    byte count or size      USEC  microseconds
 *   STR      NUL-terminated string   PTR   address of a record the kernel does not decode
 *   BUF_IN   bytes read by the kernel, length in slot 3
 *   BUF_OUT  bytes written by the kernel, length in the slot after it, filled up to the result
 *   COLOR, RECT, TEXT, EVENT, SIZE, FDPAIR  addresses of the records of that name
 */
#pragma once

/* clang-format off */
#define NUVRELOS_SERVICES(X)                               \
  X(1, write, FD, BUF_IN, COUNT)                           \
  X(2, exit, INT, NONE, NONE)                              \
  X(3, read, FD, BUF_OUT, COUNT)                           \
  X(4, open, STR, HEX, HEX)                                \
  X(5, close, FD, NONE, NONE)                              \
  X(6, getkey, NONE, NONE, NONE)                           \
  X(8, gui_create, STR, STR, NONE)                         \
  X(9, gui_set_title, INT, STR, NONE)                      \
  X(10, gui_begin, INT, NONE, NONE)                        \
  X(11, gui_clear, INT, COLOR, NONE)                       \
  X(12, gui_fill_rect, INT, RECT, NONE)                    \
  X(13, gui_draw_text, INT, TEXT, NONE)                    \
  X(14, gui_present, INT, NONE, NONE)                      \
  X(15, gui_poll_event, INT, EVENT, COUNT)                 \
  X(16, gui_wait_event, INT, EVENT, COUNT)                 \
  X(17, gui_attach, STR, STR, NONE)                        \
  X(18, gui_draw_line, INT, PTR, NONE)                     \
  X(19, gui_get_content_size, INT, SIZE, NONE)             \
  X(20, gui_set_font, INT, PTR, NONE)                      \
  X(21, writefile, STR, BUF_IN, COUNT)                     \
  X(22, usleep, USEC, NONE, NONE)                          \
  X(23, gui_set_continuous_redraw, INT, FLAG, NONE)        \
  X(24, gui_blit_rgb565, INT, PTR, NONE)                   \
  X(49, mkdir, STR, NONE, NONE)                            \
  X(50, unlink, STR, NONE, NONE)                           \
  X(51, rmdir, STR, NONE, NONE)                            \
  X(52, getcwd, BUF_OUT, COUNT, NONE)                      \
  X(53, nuvrelfs_stream_begin, PTR, NONE, NONE)            \
  X(54, nuvrelfs_stream_write, INT, BUF_IN, COUNT)         \
  X(55, nuvrelfs_stream_end, INT, NONE, NONE)              \
  X(95, chdir, STR, NONE, NONE)                            \
  X(105, gui_draw_icon, INT, PTR, NONE)                    \
  X(106, gui_outline_rect, INT, RECT, NONE)                \
  X(107, gui_draw_char, INT, PTR, NONE)                    \
  X(108, gui_get_font_metrics, INT, PTR, NONE)             \
  X(110, lseek, FD, INT, INT)                              \
  X(111, gui_warp_mouse, INT, INT, INT)                    \
  X(112, gui_set_cursor_visible, INT, FLAG, NONE)          \
  X(124, pipe, FDPAIR, NONE, NONE)                         \
  X(125, mkfifo, STR, NONE, NONE)                          \
  X(126, dup, FD, NONE, NONE)                              \
  X(127, dup2, FD, FD, NONE)                               \
  X(128, fd_set_inherit, FLAG, NONE, NONE)                 \
  X(129, fd_set_stdio, FD, FD, FD)                         \
  X(130, fd_set_nonblock, FD, FLAG, NONE)                  \
  X(131, spawn, PTR, INT, INT)                             \
  X(132, waitpid, INT, PTR, HEX)                           \
  X(137, gui_load_font, STR, PTR, NONE)                    \
  X(138, gui_draw_text_font, INT, PTR, NONE)               \
  X(139, gui_draw_char_font, INT, PTR, NONE)
/* clang-format on */

/*
 * The largest count or offset a service's signed 32-bit result can report: the wrappers clamp byte
 * counts to it, the formatters saturate their character counts at it, and the kernel refuses more.
 */
#define NUVRELOS_COUNT_MAX 0x7FFFFFFFu

/* SVC_write, SVC_exit, ...: the service numbers (not SYS_: on the host those are Linux's). */
#define NUVRELOS_SERVICE_ENUM(num, name, a, b, c) SVC_##name = num,
enum NuvrelosService { NUVRELOS_SERVICES(NUVRELOS_SERVICE_ENUM) };
#undef NUVRELOS_SERVICE_ENUM
