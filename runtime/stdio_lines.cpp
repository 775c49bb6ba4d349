// The customary stream functions beyond the system's own: lines, single bytes under their
// other names, the error line, and the no-ops of a library that buffers nothing. They follow
// ISO C and POSIX, built on fgetc and the stream layer.
#include <stdint.h>

#include "errno.h"
#include "stdio.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

extern "C" {

int getc(Stream *stream) { return fgetc(stream); }

int putc(int c, Stream *stream) { return fputc(c, stream); }

char *fgets(char *buffer, int size, Stream *stream) {
  if (buffer == nullptr || size <= 0) return nullptr;
  int stored = 0;
  while (stored < size - 1) {
    int c = fgetc(stream);
    if (c == EOF) break;
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (stored == 0 && size > 1) return nullptr;
  buffer[stored] = '\0';
  return buffer;
}

ssize_t getdelim(char **line, size_t *capacity, int delimiter, Stream *stream) {
  if (line == nullptr || capacity == nullptr || stream == nullptr) {
    errno = EINVAL;
    return -1;
  }
  if (*line == nullptr) *capacity = 0;
  uint32_t length = 0;
  for (;;) {
    int c = fgetc(stream);
    if (c == EOF) break;
    // Room for this byte and the terminator; doubling stops below the largest ssize_t.
    if (length + 2 > *capacity) {
      if (length >= 0x3FFFFFFFu) {
        errno = ENOMEM;
        return -1;
      }
      uint32_t grown = *capacity < 64 ? 64 : static_cast<uint32_t>(*capacity) * 2;
      char *bigger = static_cast<char *>(realloc(*line, grown));
      if (bigger == nullptr) return -1;
      *line = bigger;
      *capacity = grown;
    }
    (*line)[length++] = static_cast<char>(c);
    if (c == static_cast<unsigned char>(delimiter)) break;
  }
  if (length == 0) return -1;
  (*line)[length] = '\0';
  return static_cast<ssize_t>(length);
}

ssize_t getline(char **line, size_t *capacity, Stream *stream) {
  return getdelim(line, capacity, '\n', stream);
}

void perror(const char *s) {
  char text[256];
  const char *message = strerror(errno);
  int n = s != nullptr && s[0] != '\0' ? snprintf(text, sizeof text, "%s: %s\n", s, message)
                                       : snprintf(text, sizeof text, "%s\n", message);
  fwrite(text, 1, n < static_cast<int>(sizeof text) ? static_cast<size_t>(n) : sizeof text - 1,
         stderr);
}

void clearerr(Stream *stream) {
  if (stream == nullptr) return;
  stream->error = 0;
  stream->eof = 0;
}

int fileno(Stream *stream) {
  if (stream == nullptr || stream->kind != STREAM_FD) {
    errno = EBADF;
    return -1;
  }
  return stream->fd;
}

int setvbuf(Stream *, char *, int, size_t) { return 0; }

int remove(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  int result = unlink(path);
  if (result == -EISDIR) result = rmdir(path);
  if (result >= 0) return 0;
  errno = -result;
  return -1;
}

}  // extern "C"
