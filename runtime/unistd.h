/* Descriptor, file, directory, process and timing services. */
#pragma once

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2

#define STDIN_FILENO 0
#define STDOUT_FILENO 1
#define STDERR_FILENO 2

ssize_t write(int fd, const void *buffer, size_t count);
ssize_t read(int fd, void *buffer, size_t count);
int close(int fd);
void _exit(int status) __attribute__((noreturn));
int access(const char *path, int mode);
/* One key from the console: a byte of input, or negative at its end. */
int getkey(void);
/* Creates or replaces the file with exactly these bytes, in one call. */
int writefile(const char *path, const void *data, size_t length);
int mkdir(const char *path);
int unlink(const char *path);
int rmdir(const char *path);
/* Returns the kernel's integer answer, not the buffer. */
int getcwd(char *buffer, size_t size);
int chdir(const char *path);
off_t lseek(int fd, off_t offset, int origin);
int pipe(int fds[2]);
int mkfifo(const char *path);
int dup(int fd);
int dup2(int fd, int target);
int fd_set_inherit(int flag);
int fd_set_stdio(int in, int out, int err);
int fd_set_nonblock(int fd, int flag);
int spawn(const void *request, int value, int count);
pid_t waitpid(pid_t pid, int *status, int options);
int nuvrelfs_stream_begin(const void *request);
int nuvrelfs_stream_write(int stream, const void *data, size_t length);
int nuvrelfs_stream_end(int stream);
/* Both answer 0 whatever the kernel says. */
int usleep(unsigned int microseconds);
unsigned int sleep(unsigned int seconds);

#ifdef __cplusplus
}
#endif
