/*
 * The one list of the kernel's error numbers. A failing service answers the negated number;
 * errno.h's constants, the simulated kernel's error enum and the names the trace prints are
 * all generated from this list. The numbers are Linux's, so tools that know those read ours
 * (the host checks, at compile time, that its own values are the same). EDOM, ERANGE and EILSEQ
 * are ISO C's; strtoll and strtoull report ERANGE.
 *
 * X(number, name)
 */
#pragma once

/* clang-format off */
#define NUVRELOS_ERRORS(X) \
  X(2, ENOENT)             \
  X(5, EIO)                \
  X(7, E2BIG)              \
  X(8, ENOEXEC)            \
  X(9, EBADF)              \
  X(10, ECHILD)            \
  X(11, EAGAIN)            \
  X(12, ENOMEM)            \
  X(13, EACCES)            \
  X(14, EFAULT)            \
  X(17, EEXIST)            \
  X(20, ENOTDIR)           \
  X(21, EISDIR)            \
  X(22, EINVAL)            \
  X(24, EMFILE)            \
  X(28, ENOSPC)            \
  X(32, EPIPE)             \
  X(33, EDOM)              \
  X(34, ERANGE)            \
  X(36, ENAMETOOLONG)      \
  X(38, ENOSYS)            \
  X(39, ENOTEMPTY)         \
  X(40, ELOOP)             \
  X(84, EILSEQ)
/* clang-format on */
