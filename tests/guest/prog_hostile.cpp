// Does on request what a careless or hostile program does to the platform around it, so the
// runner's limits, outputs and host resources can be seen to hold from outside:
//   flood                 writes to standard output without end
//   sleep-in-window       opens a window, then sleeps 30 seconds
//   overwrite PATH        replaces PATH with a forged file, then exits 0
//   deep N                makes and enters N nested directories, writes a file at the bottom,
//                         climbs back out with ".." and exits 0 (the level it failed at if not)
//   patch-code FILE       runs a function, reads FILE over its code, runs it again and exits
//                         with what the second run returned (7 before the patch)
//   names                 hands the kernel strings of control, C1 and non-UTF-8 bytes
#include <fcntl.h>
#include <gui.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

void say(const char *text) { write(1, text, strlen(text)); }

int flood() {
  static char chunk[4096];
  memset(chunk, 'x', sizeof chunk);
  for (;;) write(1, chunk, sizeof chunk);
}

int sleep_in_window() {
  if (gui_create("sleeper", "") < 0) return 3;
  say("sleeping\n");
  usleep(30000000);
  return 0;
}

int overwrite(const char *path) {
  const char forged[] = "forged by the program\n";
  return writefile(path, forged, sizeof forged - 1) >= 0 ? 0 : 1;
}

int deep(int levels) {
  const char leaf[] = "at the bottom\n";
  for (int i = 0; i < levels; ++i) {
    if (mkdir("d") != 0 || chdir("d") != 0) return 10 + i % 100;
  }
  if (writefile("leaf", leaf, sizeof leaf - 1) < 0) return 4;
  static char cwd[4096];
  if (getcwd(cwd, sizeof cwd) < 0 || strlen(cwd) != static_cast<size_t>(levels) * 2) return 5;
  for (int i = 0; i < levels; ++i) {
    if (chdir("..") != 0) return 6;
  }
  if (getcwd(cwd, sizeof cwd) < 0 || strcmp(cwd, "/") != 0) return 7;
  say("climbed back\n");
  return 0;
}

// Returns 7; its first bytes are what patch-code reads over. Never inlined nor its result
// assumed by the caller (noipa), so each call runs these very bytes.
__attribute__((noipa)) int patched() { return 7; }

int patch_code(const char *file) {
  if (patched() != 7) return 2;
  int fd = open(file, O_RDONLY);
  if (fd < 0) return 3;
  // A kernel write into code: the next call must run the new bytes.
  void *code = reinterpret_cast<void *>(&patched);
  int n = read(fd, code, 16);
  close(fd);
  if (n <= 0) return 4;
  return patched();
}

int names() {
  const char hostile[] =
      "\x1b[2J\x9b"
      "31m\xff\xfe\n\t\\\"forged";
  write(1, hostile, sizeof hostile - 1);
  open(hostile, O_RDONLY);
  mkdir(hostile);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *how = argc > 1 ? argv[1] : "";
  const char *arg = argc > 2 ? argv[2] : "";
  if (strcmp(how, "flood") == 0) return flood();
  if (strcmp(how, "sleep-in-window") == 0) return sleep_in_window();
  if (strcmp(how, "overwrite") == 0) return overwrite(arg);
  if (strcmp(how, "deep") == 0) return deep(atoi(arg));
  if (strcmp(how, "patch-code") == 0) return patch_code(arg);
  if (strcmp(how, "names") == 0) return names();
  say("unknown request\n");
  return 99;
}
