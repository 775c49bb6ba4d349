/*
 * The one list of nuvrelos kernel services, each with its signature. The target's service
 * numbers, the simulated kernel's handler declarations and dispatch table, and the trace's
 * names and argument readers are all generated from it: a service is added or renumbered here,
 * and served by one typed function on the host.
 *
 * X(number, name, entry, slot1, slot2, slot3)
 *   entry: SYS the kernel serves the call; NI the number is taken but nothing serves it yet
 *          (the call answers ENOSYS before any argument is looked at).
 *   Each slot says what the argument holds. Plain values:
 *     NONE      not used                   INT     a signed integer
 *     BITS      flags, shown in hex        FLAG    on or off (any non-zero value is on)
 *     COUNT     a byte count or size       USEC    microseconds
 *     FD        an open descriptor         WINDOW  a compositor window handle
 *     ADDR      an address the kernel does not follow
 *   Guest memory the kernel reads:
 *     PATH      a NUL-terminated path of at most NUVRELOS_PATH_MAX bytes
 *     TITLE     a NUL-terminated title of at most NUVRELOS_TITLE_MAX bytes;
 *               TITLE_OR_NULL is the same, or null for none
 *     IN(T)     a record of type T
 *     BYTES_IN(n)  as many bytes as slot n counts; the kernel may take fewer (a transfer)
 *     WHOLE_IN(n)  exactly as many bytes as slot n counts
 *   Guest memory the kernel writes:
 *     OUT(T)       a record of type T
 *     OUT_UPTO(T, n)  a record of type T, of which no more than slot n's count of bytes
 *     BYTES_OUT(n) room for slot n's count of bytes; the result says how many were stored
 *     STR_OUT(n)   room for slot n's count of bytes, filled with a NUL-terminated string
 * The record types are those of abi/gui_records.h and NuvrelosFdPair below; the target ignores
 * everything after the name.
 */
#pragma once

/* clang-format off */
#define NUVRELOS_SERVICES(X)                                                      \
  X(1, write, SYS, FD, BYTES_IN(3), COUNT)                                        \
  X(2, exit, SYS, INT, NONE, NONE)                                                \
  X(3, read, SYS, FD, BYTES_OUT(3), COUNT)                                        \
  X(4, open, SYS, PATH, BITS, BITS)                                               \
  X(5, close, SYS, FD, NONE, NONE)                                                \
  X(6, getkey, SYS, NONE, NONE, NONE)                                             \
  X(8, gui_create, SYS, TITLE, TITLE_OR_NULL, NONE)                               \
  X(9, gui_set_title, SYS, WINDOW, TITLE, NONE)                                   \
  X(10, gui_begin, SYS, WINDOW, NONE, NONE)                                       \
  X(11, gui_clear, SYS, WINDOW, IN(GuiColor), NONE)                               \
  X(12, gui_fill_rect, SYS, WINDOW, IN(GuiRect), NONE)                            \
  X(13, gui_draw_text, SYS, WINDOW, IN(GuiText), NONE)                            \
  X(14, gui_present, SYS, WINDOW, NONE, NONE)                                     \
  X(15, gui_poll_event, SYS, WINDOW, OUT_UPTO(GuiEvent, 3), COUNT)                \
  X(16, gui_wait_event, SYS, WINDOW, OUT_UPTO(GuiEvent, 3), COUNT)                \
  X(17, gui_attach, SYS, TITLE, TITLE_OR_NULL, NONE)                              \
  X(18, gui_draw_line, NI, WINDOW, ADDR, NONE)                                    \
  X(19, gui_get_content_size, SYS, WINDOW, OUT(GuiSize), NONE)                    \
  X(20, gui_set_font, NI, WINDOW, ADDR, NONE)                                     \
  X(21, writefile, SYS, PATH, WHOLE_IN(3), COUNT)                                 \
  X(22, usleep, SYS, USEC, NONE, NONE)                                            \
  X(23, gui_set_continuous_redraw, SYS, WINDOW, FLAG, NONE)                       \
  X(24, gui_blit_rgb565, NI, WINDOW, ADDR, NONE)                                  \
  X(49, mkdir, SYS, PATH, NONE, NONE)                                             \
  X(50, unlink, SYS, PATH, NONE, NONE)                                            \
  X(51, rmdir, SYS, PATH, NONE, NONE)                                             \
  X(52, getcwd, SYS, STR_OUT(2), COUNT, NONE)                                     \
  X(53, nuvrelfs_stream_begin, SYS, PATH, NONE, NONE)                             \
  X(54, nuvrelfs_stream_write, SYS, INT, WHOLE_IN(3), COUNT)                      \
  X(55, nuvrelfs_stream_end, SYS, INT, NONE, NONE)                                \
  X(95, chdir, SYS, PATH, NONE, NONE)                                             \
  X(105, gui_draw_icon, NI, WINDOW, ADDR, NONE)                                   \
  X(106, gui_outline_rect, SYS, WINDOW, IN(GuiRect), NONE)                        \
  X(107, gui_draw_char, NI, WINDOW, ADDR, NONE)                                   \
  X(108, gui_get_font_metrics, SYS, WINDOW, OUT(GuiSize), NONE)                   \
  X(110, lseek, SYS, FD, INT, INT)                                                \
  X(111, gui_warp_mouse, SYS, WINDOW, INT, INT)                                   \
  X(112, gui_set_cursor_visible, SYS, WINDOW, FLAG, NONE)                         \
  X(124, pipe, SYS, OUT(NuvrelosFdPair), NONE, NONE)                              \
  X(125, mkfifo, SYS, PATH, NONE, NONE)                                           \
  X(126, dup, SYS, FD, NONE, NONE)                                                \
  X(127, dup2, SYS, FD, INT, NONE)                                                \
  X(128, fd_set_inherit, SYS, FLAG, NONE, NONE)                                   \
  X(129, fd_set_stdio, SYS, INT, INT, INT)                                        \
  X(130, fd_set_nonblock, SYS, FD, FLAG, NONE)                                    \
  X(131, spawn, SYS, ADDR, BITS, INT)                                             \
  X(132, waitpid, SYS, INT, ADDR, BITS)                                           \
  X(137, gui_load_font, NI, PATH, ADDR, NONE)                                     \
  X(138, gui_draw_text_font, NI, WINDOW, ADDR, NONE)                              \
  X(139, gui_draw_char_font, NI, WINDOW, ADDR, NONE)
/* clang-format on */

/* SVC_write, SVC_exit, ...: the service numbers (not SYS_: on the host those are Linux's). */
#define NUVRELOS_SERVICE_ENUM(num, name, ...) SVC_##name = num,
enum NuvrelosService { NUVRELOS_SERVICES(NUVRELOS_SERVICE_ENUM) };
#undef NUVRELOS_SERVICE_ENUM

/*
 * The largest count or offset a service's signed 32-bit result can report: the wrappers clamp byte
 * counts to it, the formatters saturate their character counts at it, and the kernel refuses more.
 */
#define NUVRELOS_COUNT_MAX 0x7FFFFFFFu

/* The longest strings the kernel takes, in bytes without the NUL: longer paths answer
   ENAMETOOLONG, longer titles and texts EINVAL. */
#define NUVRELOS_PATH_MAX 4095
#define NUVRELOS_TITLE_MAX 1024
#define NUVRELOS_TEXT_MAX 4096

/* What pipe stores: the descriptor to read from, then the one to write to. */
typedef struct NuvrelosFdPair {
  int read_end; /* 32 bits, as every int of the interface (abi/gui_records.h) */
  int write_end;
} NuvrelosFdPair;
