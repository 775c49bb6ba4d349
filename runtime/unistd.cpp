#include "unistd.h"

#include "internal_wrappers.h"

using nuv::addr;
using nuv::clamp_count;
using nuv::flag01;

namespace {

int32_t call1(uint32_t service, uint32_t a) { return nuvrelos_syscall_inline(service, a, 0, 0); }

int32_t path_call(uint32_t service, const char *path) {
  if (path == nullptr) return -1;
  return call1(service, addr(path));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t count) {
  if (buffer == nullptr) return -1;
  return nuvrelos_syscall_inline(SVC_write, fd, addr(buffer), clamp_count(count));
}

ssize_t read(int fd, void *buffer, size_t count) {
  if (buffer == nullptr) return -1;
  return nuvrelos_syscall_inline(SVC_read, fd, addr(buffer), clamp_count(count));
}

int close(int fd) { return call1(SVC_close, fd); }

void _exit(int status) {
  call1(SVC_exit, status);
  // A kernel that comes back from exit must not let the program go on.
  for (;;) __asm__ volatile("hlt");
}

int access(const char *path, int /*mode*/) {
  if (path == nullptr) return -1;
  int32_t fd = nuvrelos_syscall_inline(SVC_open, addr(path), 0, 0);
  if (fd < 0) return -1;
  call1(SVC_close, fd);
  return 0;
}

int getkey(void) { return nuvrelos_syscall_inline(SVC_getkey, 0, 0, 0); }

int writefile(const char *path, const void *data, size_t length) {
  if (path == nullptr || data == nullptr) return -1;
  return nuvrelos_syscall_inline(SVC_writefile, addr(path), addr(data), clamp_count(length));
}

int mkdir(const char *path) { return path_call(SVC_mkdir, path); }
int unlink(const char *path) { return path_call(SVC_unlink, path); }
int rmdir(const char *path) { return path_call(SVC_rmdir, path); }
int chdir(const char *path) { return path_call(SVC_chdir, path); }
int mkfifo(const char *path) { return path_call(SVC_mkfifo, path); }

int getcwd(char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) return -1;
  return nuvrelos_syscall_inline(SVC_getcwd, addr(buffer), clamp_count(size), 0);
}

off_t lseek(int fd, off_t offset, int origin) {
  return nuvrelos_syscall_inline(SVC_lseek, fd, offset, origin);
}

int pipe(int fds[2]) {
  if (fds == nullptr) return -1;
  return call1(SVC_pipe, addr(fds));
}

int dup(int fd) { return call1(SVC_dup, fd); }
int dup2(int fd, int target) { return nuvrelos_syscall_inline(SVC_dup2, fd, target, 0); }
int fd_set_inherit(int flag) { return call1(SVC_fd_set_inherit, flag01(flag)); }
int fd_set_stdio(int in, int out, int err) {
  return nuvrelos_syscall_inline(SVC_fd_set_stdio, in, out, err);
}
int fd_set_nonblock(int fd, int flag) {
  return nuvrelos_syscall_inline(SVC_fd_set_nonblock, fd, flag01(flag), 0);
}

int spawn(const void *request, int value, int count) {
  if (request == nullptr || count < 0) return -1;
  return nuvrelos_syscall_inline(SVC_spawn, addr(request), value, count);
}

pid_t waitpid(pid_t pid, int *status, int options) {
  return nuvrelos_syscall_inline(SVC_waitpid, pid, addr(status), options);
}

int nuvrelfs_stream_begin(const void *request) {
  if (request == nullptr) return -1;
  return call1(SVC_nuvrelfs_stream_begin, addr(request));
}

int nuvrelfs_stream_write(int stream, const void *data, size_t length) {
  if (data == nullptr) return -1;
  return nuvrelos_syscall_inline(SVC_nuvrelfs_stream_write, stream, addr(data),
                                 clamp_count(length));
}

int nuvrelfs_stream_end(int stream) { return call1(SVC_nuvrelfs_stream_end, stream); }

int usleep(unsigned int microseconds) {
  call1(SVC_usleep, microseconds);
  return 0;
}

unsigned int sleep(unsigned int seconds) {
  call1(SVC_usleep, seconds * 1000000u);  // wraps on purpose: a 32-bit product
  return 0;
}

}  // extern "C"
