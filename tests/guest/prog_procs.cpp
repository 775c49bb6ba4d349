// Processes, pipes, FIFOs and streams from the inside: `prog_procs MODE [ARGS]`, each mode one
// scene, its findings printed one per line for the host test to compare. The program finds
// itself in the root as /procs.
#include <fcntl.h>
#include <gui.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kSelf = "/procs";

int start(const char* a, const char* b = nullptr, const char* c = nullptr) {
  const char* argv[4] = {kSelf, a, b, c};
  int count = 2 + (b != nullptr) + (c != nullptr);
  return spawn(argv, 0, count);
}

int wait_word(int pid) {
  int status = -1;
  int got = waitpid(pid, &status, 0);
  return got == pid ? status : -1000 + got;
}

int write_all(int fd, const unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    int n = write(fd, data + done, size - done);
    if (n <= 0) return n;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// A pattern anyone can regenerate, and a checksum of it.
unsigned char pattern(unsigned i) { return static_cast<unsigned char>((i * 2654435761u) >> 24); }
unsigned mix(unsigned sum, unsigned char byte) { return (sum ^ byte) * 16777619u; }

constexpr unsigned kPipelineBytes = 10u * 1000u * 1000u;

// gen: the pattern on standard output. flip: each byte inverted, standard input to output.
int gen() {
  unsigned char buf[8192];
  for (unsigned at = 0; at < kPipelineBytes;) {
    unsigned n = kPipelineBytes - at < sizeof buf ? kPipelineBytes - at : sizeof buf;
    for (unsigned i = 0; i < n; ++i) buf[i] = pattern(at + i);
    if (write_all(1, buf, n) != 0) return 1;
    at += n;
  }
  return 0;
}

int flip() {
  unsigned char buf[5000];
  for (;;) {
    int n = read(0, buf, sizeof buf);
    if (n < 0) return 2;
    if (n == 0) return 0;
    for (int i = 0; i < n; ++i) buf[i] = static_cast<unsigned char>(~buf[i]);
    if (write_all(1, buf, static_cast<size_t>(n)) != 0) return 1;
  }
}

// Three processes: gen | flip | this one, which checks every byte.
int pipeline() {
  int a[2], b[2];
  pipe(a);
  pipe(b);
  fd_set_stdio(-1, a[1], -1);
  int g = start("gen");
  fd_set_stdio(a[0], b[1], -1);
  int f = start("flip");
  fd_set_stdio(-1, -1, -1);
  close(a[0]);
  close(a[1]);
  close(b[1]);
  unsigned sum = 2166136261u, expect = 2166136261u, total = 0;
  unsigned char buf[65536];
  for (;;) {
    int n = read(b[0], buf, sizeof buf);
    if (n <= 0) break;
    for (int i = 0; i < n; ++i) sum = mix(sum, buf[i]);
    total += static_cast<unsigned>(n);
  }
  for (unsigned i = 0; i < kPipelineBytes; ++i) {
    expect = mix(expect, static_cast<unsigned char>(~pattern(i)));
  }
  printf("bytes %u\n", total);
  printf("checksum %s\n", sum == expect ? "ok" : "wrong");
  printf("gen %d flip %d\n", wait_word(g), wait_word(f));
  return 0;
}

// The end of input comes only when the last writer closed, one a child inherited included.
int eof() {
  int p[2];
  pipe(p);
  char number[12];
  snprintf(number, sizeof number, "%d", p[1]);
  fd_set_inherit(1);
  int child = start("hold", number);  // it writes on the write end it inherited
  fd_set_inherit(0);
  close(p[1]);
  char got[16] = {};
  int at = 0;
  for (;;) {
    int n = read(p[0], got + at, 1);
    if (n <= 0) {
      printf("read %s, then %d\n", got, n);
      break;
    }
    ++at;
  }
  printf("child %d\n", wait_word(child));
  return 0;
}

// Run by eof: writes "a" on the inherited descriptor, sleeps, writes "b", exits.
int hold(int fd) {
  write(fd, "a", 1);
  usleep(1000);
  write(fd, "b", 1);
  return 0;
}

int errors() {
  int p[2];
  pipe(p);
  close(p[0]);
  printf("write without reader %d\n", static_cast<int>(write(p[1], "x", 1)));
  close(p[1]);
  pipe(p);
  fd_set_nonblock(p[0], 1);
  char c;
  printf("read empty nonblocking %d\n", static_cast<int>(read(p[0], &c, 1)));
  fd_set_nonblock(p[1], 1);
  static unsigned char big[65536];
  printf("fill %d\n", static_cast<int>(write(p[1], big, sizeof big)));
  printf("write full nonblocking %d\n", static_cast<int>(write(p[1], "x", 1)));
  printf("read %d\n", static_cast<int>(read(p[0], big, 10)));
  printf("small write waits for room %d\n", static_cast<int>(write(p[1], big, 11)));
  printf("fits %d\n", static_cast<int>(write(p[1], big, 10)));
  close(p[1]);
  int n = 0, total = 0;
  while ((n = static_cast<int>(read(p[0], big, sizeof big))) > 0) total += n;
  printf("drained %d, then %d\n", total, n);
  return 0;
}

int waits() {
  int status = 0;
  printf("no child %d\n", waitpid(-1, &status, 0));
  int one = start("exit", "3");
  int two = start("exit", "4");
  printf("nohang %d\n", waitpid(one, &status, WNOHANG));
  int got = waitpid(two, &status, 0);
  printf("one %s exited %d status %d\n", got == two ? "two" : "other", WIFEXITED(status),
         WEXITSTATUS(status));
  got = waitpid(-1, nullptr, 0);
  printf("any %s\n", got == one ? "one" : "other");
  printf("reaped %d\n", waitpid(one, &status, WNOHANG));
  int crash = start("crash");
  got = waitpid(-1, &status, 0);
  printf("crash %s signaled %d signal %d\n", got == crash ? "it" : "other", WIFSIGNALED(status),
         WTERMSIG(status));
  int kept = start("exit", "0");
  printf("bad status area %d\n", waitpid(kept, reinterpret_cast<int*>(16), 0));
  printf("kept %d\n", WEXITSTATUS(wait_word(kept)));
  return 0;
}

int crash() {
  volatile int* nowhere = nullptr;
  return *nowhere;
}

// A child that starts a grandchild and leaves at once: the grandchild comes to process 1.
int orphan() {
  int middle = start("parent-leaves");
  printf("middle %d\n", WEXITSTATUS(wait_word(middle)));
  int status = 0;
  int got = waitpid(-1, &status, 0);
  printf("adopted %s status %d\n", got > middle ? "grandchild" : "other", WEXITSTATUS(status));
  printf("then %d\n", waitpid(-1, &status, 0));
  return 0;
}

int parent_leaves() {
  start("late-exit");
  return 1;
}

int late_exit() {
  usleep(5000);
  return 7;
}

// The child reads a pipe whose writer only the parent holds, and the parent waits for it.
int deadlock() {
  int p[2];
  pipe(p);
  fd_set_stdio(p[0], -1, -1);
  int child = start("flip");
  printf("started %d\n", child > 0);
  waitpid(child, nullptr, 0);
  return 0;
}

int limit() {
  int p[2];
  pipe(p);
  fd_set_stdio(p[0], -1, -1);
  int started = 0, last = 0;
  for (int i = 0; i < 100; ++i) {
    last = start("flip");
    if (last < 0) break;
    ++started;
  }
  close(p[1]);
  printf("started %d, then %d\n", started, last);
  int reaped = 0;
  while (waitpid(-1, nullptr, 0) > 0) ++reaped;
  printf("reaped %d\n", reaped);
  return 0;
}

// Children that end and are never waited for still count against the limit.
int zombies() {
  int started = 0, last = 0;
  for (int i = 0; i < 100; ++i) {
    last = start("exit", "0");
    if (last < 0) break;
    ++started;
    usleep(10);  // each one ends before the next starts
  }
  printf("started %d, then %d\n", started, last);
  int status = 0;
  printf("waited %d\n", waitpid(-1, &status, 0) > 0);
  printf("one more %d\n", start("exit", "0") > 0);
  return 0;
}

int fifo() {
  printf("mkfifo %d\n", mkfifo("/channel"));
  printf("again %d\n", mkfifo("/channel"));
  int child = start("fifo-writer");
  int fd = open("/channel", O_RDONLY);
  char buf[64] = {};
  int n = 0, at = 0;
  while ((n = static_cast<int>(read(fd, buf + at, sizeof buf - 1 - at))) > 0) at += n;
  printf("got \"%s\"\n", buf);
  printf("writer %d\n", WEXITSTATUS(wait_word(child)));
  return 0;
}

int fifo_writer() {
  int fd = open("/channel", O_WRONLY);
  if (fd < 0) return 1;
  write(fd, "through the fifo", 16);
  return 0;
}

int streams() {
  int s = nuvrelfs_stream_begin("/streamed.txt");
  printf("begin %d\n", s);
  printf("missing before end %d\n", access("/streamed.txt", 0));
  nuvrelfs_stream_write(s, "hello ", 6);
  nuvrelfs_stream_write(s, "stream\n", 7);
  printf("end %d\n", nuvrelfs_stream_end(s));
  printf("end again %d\n", nuvrelfs_stream_end(s));
  int child = start("abandon");
  printf("abandoned child %d\n", WTERMSIG(wait_word(child)));
  printf("abandoned file %d\n", access("/abandoned.txt", 0));
  int opened = 0;
  while (nuvrelfs_stream_begin("/many") > 0) ++opened;
  printf("streams open at once %d\n", opened);
  return 0;
}

int abandon() {
  int s = nuvrelfs_stream_begin("/abandoned.txt");
  nuvrelfs_stream_write(s, "never", 5);
  return crash();
}

int spawn_errors() {
  const char* missing[] = {"/no-such-program"};
  const char* text[] = {"/notes.txt"};
  const char* dir[] = {"/"};
  const char* self[] = {kSelf, "exit", "0"};
  printf("missing %d\n", spawn(missing, 0, 1));
  printf("not a program %d\n", spawn(text, 0, 1));
  printf("a directory %d\n", spawn(dir, 0, 1));
  printf("bad pointer %d\n", spawn(reinterpret_cast<const void*>(16), 0, 1));
  printf("no arguments %d\n", spawn(self, 0, 0));
  printf("unknown flags %d\n", spawn(self, 4, 3));
  printf("closed stdio %d\n", fd_set_stdio(40, -1, -1));
  return 0;
}

// A child that never ends, and a parent waiting for it: only the run's limits end this.
int spin() {
  for (volatile unsigned i = 0;; i = i + 1) {
  }
}

int wait_spinner() {
  int child = start("spin");
  return wait_word(child);
}

// For the benchmarks: N spawn, exit, waitpid round trips; a pump of MB mebibytes in writes of
// SIZE bytes into a pipe a child drains.
int spawn_loop(int n) {
  for (int i = 0; i < n; ++i) {
    if (wait_word(start("exit", "0")) != 0) return 1;
  }
  return 0;
}

int drain() {
  static unsigned char buf[65536];
  int n;
  while ((n = static_cast<int>(read(0, buf, sizeof buf))) > 0) {
  }
  return n < 0;
}

int pump(int size, int mebibytes) {
  static unsigned char buf[65536];
  if (size <= 0 || size > static_cast<int>(sizeof buf)) return 2;
  int p[2];
  pipe(p);
  fd_set_stdio(p[0], -1, -1);
  int child = start("drain");
  fd_set_stdio(-1, -1, -1);
  close(p[0]);
  long long left = static_cast<long long>(mebibytes) << 20;
  while (left > 0) {
    int n = static_cast<int>(write(p[1], buf, static_cast<size_t>(size)));
    if (n <= 0) return 3;
    left -= n;
  }
  close(p[1]);
  return wait_word(child);
}

// Two windows, one per process: process 1's, then its child's (created, or the display's own
// attached), after which process 1 attaches to the display's own if told to ("reattach"). Each
// names the input it gets; the child ends at a key, its code the exit status, or quietly after
// 100 frames, and process 1 when it sees the child end. Each frame waits a millisecond, as a
// paced program would: a frame costs so few instructions that without it process 1 would
// present hundreds of them within one slice of the scheduler.
void paint(GuiHandle handle, int frame) {
  auto grey = static_cast<unsigned char>(frame);
  GuiColor colour = {grey, grey, grey, 0};
  gui_begin(handle);
  gui_clear(handle, &colour);
  gui_present(handle);
  usleep(1000);
}

void name_event(const char* who, const GuiEvent& e) {
  if (e.type == GUI_EVENT_KEY) {
    printf("%s key %d\n", who, e.word1);
  } else {
    printf("%s pointer %d %d %d\n", who, e.word1, e.word2, e.word3);
  }
}

// Run by windows: says on descriptor READY that its window is there.
int second_window(const char* how, int ready) {
  bool attach = strcmp(how, "attach") == 0;
  GuiHandle handle =
      attach ? gui_attach("second", "the child's") : gui_create("second", "the child's");
  if (handle < 0) return 100;
  write(ready, "r", 1);
  close(ready);
  for (int frame = 0; frame < 100; ++frame) {
    GuiEvent e;
    while (gui_poll_event(handle, &e) > 0) {
      name_event("second", e);
      if (e.type == GUI_EVENT_KEY) return e.word1 & 0xFF;
    }
    paint(handle, frame);
  }
  return 0;
}

int windows(const char* how) {
  GuiHandle handle = gui_create("first", "process 1's");
  if (handle < 0) return 100;
  int p[2];
  pipe(p);
  char number[12];
  snprintf(number, sizeof number, "%d", p[1]);
  fd_set_inherit(1);
  int child = start("second-window", how, number);
  fd_set_inherit(0);
  close(p[1]);
  char byte = 0;
  if (read(p[0], &byte, 1) != 1) return 101;
  if (strcmp(how, "reattach") == 0) handle = gui_attach("first", "again");
  for (int frame = 0;; ++frame) {
    GuiEvent e;
    while (gui_poll_event(handle, &e) > 0) name_event("first", e);
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      printf("second ended %d\n", WEXITSTATUS(status));
      return 0;
    }
    paint(handle, frame);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  const char* mode = argv[1];
  const char* arg = argc > 2 ? argv[2] : "0";
  struct Mode {
    const char* name;
    int (*run)();
  };
  static const Mode modes[] = {
      {"gen", gen},
      {"flip", flip},
      {"pipeline", pipeline},
      {"eof", eof},
      {"errors", errors},
      {"waits", waits},
      {"crash", crash},
      {"orphan", orphan},
      {"parent-leaves", parent_leaves},
      {"late-exit", late_exit},
      {"deadlock", deadlock},
      {"limit", limit},
      {"fifo", fifo},
      {"zombies", zombies},
      {"fifo-writer", fifo_writer},
      {"streams", streams},
      {"abandon", abandon},
      {"spawn-errors", spawn_errors},
      {"spin", spin},
      {"wait-spinner", wait_spinner},
  };
  for (const Mode& m : modes) {
    if (strcmp(mode, m.name) == 0) return m.run();
  }
  if (strcmp(mode, "exit") == 0) return atoi(arg);
  if (strcmp(mode, "hold") == 0) return hold(atoi(arg));
  if (strcmp(mode, "spawn-loop") == 0) return spawn_loop(atoi(arg));
  if (strcmp(mode, "drain") == 0) return drain();
  if (strcmp(mode, "windows") == 0) return windows(argc > 2 ? arg : "create");
  if (strcmp(mode, "second-window") == 0) return second_window(arg, argc > 3 ? atoi(argv[3]) : 1);
  if (strcmp(mode, "pump") == 0) return pump(atoi(arg), argc > 3 ? atoi(argv[3]) : 1);
  return 101;
}
