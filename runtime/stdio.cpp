// Unbuffered streams: descriptor streams write and read at once, memory and whole-file
// streams collect their bytes in a growing heap buffer. Every write goes through
// file_write_bytes; every read goes straight to the read wrapper.
#include "stdio.h"

#include <stdint.h>

#include "fcntl.h"
#include "stdio_internal.h"
#include "stdlib.h"
#include "string.h"
#include "unistd.h"

namespace {

constexpr uint32_t kFirstCapacity = 256;
// Doubling from 256 reaches 2^31 and no further in 32 bits.
constexpr uint32_t kMaxBufferSpace = 0x80000000u;

// Sends every byte to descriptor 1, however few each write takes.
int write_all_console(const unsigned char *bytes, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    uint32_t chunk = count - done;
    if (chunk > NUVRELOS_COUNT_MAX) chunk = NUVRELOS_COUNT_MAX;
    int written = write(1, bytes + done, chunk);
    if (written <= 0) return -1;
    if (static_cast<uint32_t>(written) >= count - done) return 0;
    done += static_cast<uint32_t>(written);
  }
  return 0;
}

uint32_t grown_capacity(uint32_t capacity, uint32_t needed) {
  if (capacity == 0) {
    if (needed <= kFirstCapacity) return kFirstCapacity;
    capacity = kFirstCapacity;
  }
  while (capacity < needed) capacity *= 2;
  return capacity;
}

// Appends to the buffer of a memory or whole-file stream; on failure nothing changes.
int append_to_buffer(Stream *stream, const unsigned char *bytes, uint32_t count) {
  uint32_t length = stream->length;
  if (length >= kMaxBufferSpace || count > kMaxBufferSpace - 1 - length) return -1;
  uint32_t needed = length + count + 1;
  if (stream->capacity < needed) {
    uint32_t capacity = grown_capacity(stream->capacity, needed);
    char *data = static_cast<char *>(realloc(stream->data, capacity));
    if (data == nullptr) return -1;
    stream->data = data;
    stream->capacity = capacity;
  }
  memcpy(stream->data + length, bytes, count);
  stream->length = length + count;
  stream->data[stream->length] = '\0';
  if (stream->kind == STREAM_MEM && stream->user_buf != nullptr && stream->user_size != nullptr) {
    *stream->user_buf = stream->data;
    *stream->user_size = stream->length;
  }
  return 0;
}

Stream *new_record() { return static_cast<Stream *>(calloc(1, sizeof(Stream))); }

// Bytes pushed back by ungetc, one per stream, beside the streams rather than in them: the
// record's layout is the system's. A few reading streams at a time is all a program needs.
struct Pushback {
  Stream *stream;
  unsigned char byte;
};
constexpr int kPushbackSlots = 8;
Pushback g_pushback[kPushbackSlots];

Pushback *pushback_of(const Stream *stream) {
  for (Pushback &slot : g_pushback) {
    if (slot.stream == stream) return &slot;
  }
  return nullptr;
}

void drop_pushback(const Stream *stream) {
  if (Pushback *slot = pushback_of(stream)) slot->stream = nullptr;
}

bool is_standard(const Stream *stream) {
  return stream == stdin || stream == stdout || stream == stderr;
}

bool can_seek(const Stream *stream) {
  return stream != nullptr && stream->kind == STREAM_FD && stream->fd > 2;
}

int close_file_stream(const Stream *stream) {
  if (stream->path == nullptr) return -1;
  const char *bytes = stream->data != nullptr ? stream->data : "";
  return writefile(stream->path, bytes, stream->length) < 0 ? -1 : 0;
}

}  // namespace

extern "C" {

Stream g_stdin = {STREAM_FD, 0, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
Stream g_stdout = {STREAM_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};
// Standard error shares the console descriptor with standard output.
Stream g_stderr = {STREAM_FD, 1, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, 0, 0};

Stream *stdin = &g_stdin;
Stream *stdout = &g_stdout;
Stream *stderr = &g_stderr;

int take_pushback(Stream *stream) {
  Pushback *slot = pushback_of(stream);
  if (stream == nullptr || slot == nullptr) return -1;
  slot->stream = nullptr;
  nuv::advance_position(stream, 1);
  return slot->byte;
}

int ungetc(int c, Stream *stream) {
  if (c == EOF || stream == nullptr || stream->kind != STREAM_FD || pushback_of(stream)) {
    return EOF;
  }
  Pushback *slot = pushback_of(nullptr);
  if (slot == nullptr) return EOF;
  slot->stream = stream;
  slot->byte = static_cast<unsigned char>(c);
  stream->eof = 0;
  stream->position = static_cast<int>(static_cast<uint32_t>(stream->position) - 1u);
  return slot->byte;
}

int file_write_bytes(Stream *stream, const void *source, uint32_t count) {
  if (stream == nullptr || source == nullptr) return -1;
  if (count == 0) return 0;
  const unsigned char *bytes = static_cast<const unsigned char *>(source);
  if (stream->kind == STREAM_FD) {
    // Only the console can be written: a descriptor stream is otherwise a reading one.
    if (stream->fd != 1) return -1;
    return write_all_console(bytes, count);
  }
  return append_to_buffer(stream, bytes, count);
}

Stream *fopen(const char *path, const char *mode) {
  if (mode == nullptr) return nullptr;
  if (path == nullptr || strcmp(path, "-") == 0) {
    if (mode[0] == 'r') return stdin;
    if (mode[0] == 'w') return stdout;
    return nullptr;
  }
  if (mode[0] == 'r') {
    int fd = open(path, O_RDONLY, 0);
    if (fd < 0) return nullptr;
    Stream *stream = new_record();
    if (stream == nullptr) {
      close(fd);
      return nullptr;
    }
    stream->kind = STREAM_FD;
    stream->fd = fd;
    return stream;
  }
  if (mode[0] == 'w') {
    // The file is only ever written, whole, by fclose.
    Stream *stream = new_record();
    if (stream == nullptr) return nullptr;
    stream->kind = STREAM_FILE;
    stream->path = strdup(path);
    if (stream->path == nullptr) {
      free(stream);
      return nullptr;
    }
    return stream;
  }
  return nullptr;
}

int fclose(Stream *stream) {
  if (stream == nullptr) return -1;
  if (is_standard(stream)) return 0;
  drop_pushback(stream);
  int result = -1;
  if (stream->kind == STREAM_FD) {
    result = stream->fd >= 3 ? close(stream->fd) : 0;
  } else if (stream->kind == STREAM_FILE) {
    result = close_file_stream(stream);
  } else if (stream->kind == STREAM_MEM) {
    // The buffer already belongs to the caller, whose variables describe the last write.
    result = 0;
  }
  if (stream->kind != STREAM_MEM) free(stream->data);
  if (stream->path != nullptr) free(stream->path);
  free(stream);
  return result;
}

size_t fread(void *buffer, size_t size, size_t count, Stream *stream) {
  if (buffer == nullptr || stream == nullptr || size == 0 || count == 0) return 0;
  if (stream->kind != STREAM_FD || count > 0xFFFFFFFFu / size) return 0;
  uint32_t wanted = size * count;
  // A byte ungetc pushed back comes first; the read brings the rest.
  int pushed = take_pushback(stream);
  unsigned char *bytes = static_cast<unsigned char *>(buffer);
  if (pushed >= 0) bytes[0] = static_cast<unsigned char>(pushed);
  uint32_t first = pushed >= 0 ? 1 : 0;
  int got = wanted > first ? read(stream->fd, bytes + first, wanted - first) : 0;
  if (got <= 0 && first == 0) {
    stream->eof = 1;
    return 0;
  }
  if (got < 0) got = 0;
  nuv::advance_position(stream, static_cast<uint32_t>(got));
  got += static_cast<int>(first);
  // A short read counts as the end, even on a console.
  if (static_cast<uint32_t>(got) < wanted) stream->eof = 1;
  return static_cast<uint32_t>(got) / size;
}

size_t fwrite(const void *source, size_t size, size_t count, Stream *stream) {
  if (source == nullptr || stream == nullptr || size == 0 || count == 0) return 0;
  if (count > 0xFFFFFFFFu / size) return 0;
  return file_write_bytes(stream, source, size * count) == 0 ? count : 0;
}

int fgetc(Stream *stream) {
  if (stream == nullptr || stream->kind != STREAM_FD) return EOF;
  int pushed = take_pushback(stream);
  if (pushed >= 0) return pushed;
  unsigned char byte = 0;
  int got = read(stream->fd, &byte, 1);
  if (got <= 0) {
    stream->eof = 1;
    return EOF;
  }
  nuv::advance_position(stream, static_cast<uint32_t>(got));
  return byte;
}

int fputc(int c, Stream *stream) {
  unsigned char byte = static_cast<unsigned char>(c);
  return file_write_bytes(stream, &byte, 1) == 0 ? c : EOF;
}

int fputs(const char *s, Stream *stream) {
  if (s == nullptr) return EOF;
  size_t length = strlen(s);
  return file_write_bytes(stream, s, length) == 0 ? static_cast<int>(length) : EOF;
}

int puts(const char *s) {
  if (s == nullptr) return EOF;
  if (file_write_bytes(stdout, s, strlen(s)) != 0) return EOF;
  return file_write_bytes(stdout, "\n", 1) == 0 ? 0 : EOF;
}

int putchar(int c) { return fputc(c, stdout); }

int getchar(void) { return fgetc(stdin); }

int fseek(Stream *stream, long offset, int origin) {
  if (!can_seek(stream)) return -1;
  // The kernel's position is past a byte ungetc pushed back; the stream's is before it.
  if (origin == SEEK_CUR && pushback_of(stream) != nullptr) {
    offset = static_cast<long>(static_cast<uint32_t>(offset) - 1u);
  }
  off_t at = lseek(stream->fd, offset, origin);
  if (at < 0) return -1;
  drop_pushback(stream);
  stream->eof = 0;
  stream->position = at;
  return 0;
}

long ftell(Stream *stream) {
  if (!can_seek(stream)) return -1;
  return stream->position;
}

void rewind(Stream *stream) {
  if (stream == nullptr) return;
  drop_pushback(stream);
  if (can_seek(stream)) {
    off_t at = lseek(stream->fd, 0, SEEK_SET);
    if (at >= 0) stream->position = at;
  }
  stream->error = 0;
  stream->eof = 0;
}

int feof(Stream *stream) { return stream == nullptr ? 1 : stream->eof; }

int ferror(Stream *stream) { return stream == nullptr ? 1 : stream->error; }

int fflush(Stream *) { return 0; }

void setbuf(Stream *, char *) {}

Stream *open_memstream(char **buffer, size_t *size) {
  if (buffer == nullptr || size == nullptr) return nullptr;
  Stream *stream = new_record();
  if (stream == nullptr) return nullptr;
  stream->kind = STREAM_MEM;
  stream->user_buf = buffer;
  stream->user_size = size;
  *buffer = nullptr;
  *size = 0;
  return stream;
}

}  // extern "C"
