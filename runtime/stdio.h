/* Unbuffered streams over descriptors, memory and whole files, and their formatters. */
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define EOF (-1)
/* fseek's origins, as in unistd.h. */
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
/* Nothing is buffered; these sizes are what a program may use for buffers of its own. */
#define BUFSIZ 1024
#define FILENAME_MAX 4096
#define FOPEN_MAX 64
#define _IOFBF 0
#define _IOLBF 1
#define _IONBF 2

enum { STREAM_FD = 1, STREAM_MEM = 2, STREAM_FILE = 3 };

typedef struct Stream {
  int kind;
  int fd;
  char *path;
  char *data;
  unsigned int length;
  unsigned int capacity;
  char **user_buf;
  size_t *user_size;
  int error;
  int position;
  int eof;
} Stream;

typedef Stream FILE;

extern Stream *stdin;
extern Stream *stdout;
extern Stream *stderr;

Stream *fopen(const char *path, const char *mode);
int fclose(Stream *stream);
size_t fread(void *buffer, size_t size, size_t count, Stream *stream);
size_t fwrite(const void *source, size_t size, size_t count, Stream *stream);
int fgetc(Stream *stream);
int fputc(int c, Stream *stream);
int fputs(const char *s, Stream *stream);
int puts(const char *s);
int putchar(int c);
int getchar(void);
int fseek(Stream *stream, long offset, int origin);
long ftell(Stream *stream);
void rewind(Stream *stream);
int feof(Stream *stream);
int ferror(Stream *stream);
int fflush(Stream *stream);
void setbuf(Stream *stream, char *buffer);
Stream *open_memstream(char **buffer, size_t *size);

/* The customary additions, after ISO C and POSIX (see docs/writing-programs.md). */
typedef long fpos_t;
char *fgets(char *buffer, int size, Stream *stream);
int getc(Stream *stream);
int putc(int c, Stream *stream);
/* One byte pushed back onto a reading stream, which the next read takes first. */
int ungetc(int c, Stream *stream);
/* "s: message" for errno, on the console (stderr). */
void perror(const char *s);
ssize_t getline(char **line, size_t *capacity, Stream *stream);
ssize_t getdelim(char **line, size_t *capacity, int delimiter, Stream *stream);
void clearerr(Stream *stream);
int fileno(Stream *stream);
/* Nothing is buffered: always 0, and the stream stays as it is. */
int setvbuf(Stream *stream, char *buffer, int mode, size_t size);
/* unlink for files, rmdir for directories. */
int remove(const char *path);

#define SPRINTF_CAPACITY 65536

int vsnprintf(char *buffer, size_t size, const char *format, va_list args);
int snprintf(char *buffer, size_t size, const char *format, ...);
int vsprintf(char *buffer, const char *format, va_list args);
int sprintf(char *buffer, const char *format, ...);

int vfprintf(Stream *stream, const char *format, va_list args);
int fprintf(Stream *stream, const char *format, ...);
int printf(const char *format, ...);
int vprintf(const char *format, va_list args);

int vsscanf(const char *input, const char *format, va_list args);
int sscanf(const char *input, const char *format, ...);
int fscanf(Stream *stream, const char *format, ...);

#ifdef __cplusplus
}
#endif
