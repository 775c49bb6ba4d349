/* nsh: a small shell. Reads commands, one per line, from standard input (or from the file
   named by its argument) and runs them as processes:
     words separated by spaces    a program and its arguments (NAME alone is /bin/NAME)
     a | b | c                    a pipeline: each one's output is the next one's input
     < FILE, > FILE               standard input from a file, standard output into one
     cd DIR, exit [N]             the built-in commands
     $?                           the last command's status (128 + the signal for a crash) */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#define MAX_WORDS 64
#define MAX_STAGES 8

static int last_status = 0;

struct stage {
  const char *argv[MAX_WORDS];
  int argc;
};

static int status_of(int word) {
  return WIFEXITED(word) ? WEXITSTATUS(word) : 128 + WTERMSIG(word);
}

static int open_redirect(const char *path, int output) {
  int fd = output ? open(path, O_WRONLY | O_CREAT | O_TRUNC) : open(path, O_RDONLY);
  if (fd < 0) fprintf(stderr, "nsh: %s: %s\n", path, strerror(-fd));
  return fd;
}

/* Starts every stage with its input and output, then waits for them all: the status is the
   last one's, as in sh. */
static int run_pipeline(struct stage *stages, int count, int in, int out) {
  int pids[MAX_STAGES];
  int status = 0, next_in = in;
  char paths[MAX_STAGES][256];
  for (int i = 0; i < count; ++i) {
    int fds[2] = {-1, -1};
    if (i + 1 < count && pipe(fds) < 0) return 1;
    fd_set_stdio(next_in, i + 1 < count ? fds[1] : out, -1);
    const char *name = stages[i].argv[0];
    if (strchr(name, '/') == NULL) {
      snprintf(paths[i], sizeof paths[i], "/bin/%s", name);
      stages[i].argv[0] = paths[i];
    }
    pids[i] = spawn(stages[i].argv, 0, stages[i].argc);
    if (pids[i] < 0) {
      fprintf(stderr, "nsh: %s: %s\n", name, strerror(-pids[i]));
      status = pids[i] == -ENOENT ? 127 : 126;
    }
    /* The parent keeps no pipe end: the reader sees the end of input when the writer ends. */
    if (next_in != in) close(next_in);
    if (fds[1] >= 0) close(fds[1]);
    next_in = fds[0];
  }
  fd_set_stdio(-1, -1, -1);
  for (int i = 0; i < count; ++i) {
    int word = 0;
    if (pids[i] > 0 && waitpid(pids[i], &word, 0) == pids[i] && i + 1 == count) {
      status = status_of(word);
    }
  }
  return status;
}

/* One line: split into words (and $? replaced), then built-ins, redirections and stages. */
static int run_line(char *line) {
  struct stage stages[MAX_STAGES];
  static char status_text[12];
  const char *in_path = NULL, *out_path = NULL;
  int count = 1;
  memset(stages, 0, sizeof stages);
  snprintf(status_text, sizeof status_text, "%d", last_status);
  for (char *word = strtok(line, " \t\n"); word; word = strtok(NULL, " \t\n")) {
    if (strcmp(word, "$?") == 0) word = status_text;
    if (strcmp(word, "|") == 0) {
      if (stages[count - 1].argc == 0 || count == MAX_STAGES) return 2;
      ++count;
    } else if (strcmp(word, "<") == 0 || strcmp(word, ">") == 0) {
      const char *path = strtok(NULL, " \t\n");
      if (path == NULL) return 2;
      *(word[0] == '<' ? &in_path : &out_path) = path;
    } else if (stages[count - 1].argc + 1 < MAX_WORDS) {
      stages[count - 1].argv[stages[count - 1].argc++] = word;
    }
  }
  if (stages[0].argc == 0) return last_status; /* an empty line */
  if (stages[count - 1].argc == 0) return 2;
  const char *command = stages[0].argv[0];
  if (strcmp(command, "exit") == 0)
    exit(stages[0].argc > 1 ? atoi(stages[0].argv[1]) : last_status);
  if (strcmp(command, "cd") == 0) {
    int rc = chdir(stages[0].argc > 1 ? stages[0].argv[1] : "/");
    if (rc < 0) fprintf(stderr, "nsh: cd: %s\n", strerror(-rc));
    return rc < 0 ? 1 : 0;
  }
  int in = in_path ? open_redirect(in_path, 0) : -1;
  int out = out_path ? open_redirect(out_path, 1) : -1;
  int status = 1;
  if ((in_path == NULL || in >= 0) && (out_path == NULL || out >= 0)) {
    status = run_pipeline(stages, count, in, out);
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  return status;
}

int main(int argc, char **argv) {
  FILE *script = argc > 1 ? fopen(argv[1], "r") : stdin;
  if (script == NULL) {
    fprintf(stderr, "nsh: cannot read %s\n", argv[1]);
    return 127;
  }
  char line[1024];
  while (fgets(line, sizeof line, script)) {
    last_status = run_line(line);
    if (last_status == 2 && strchr(line, '|')) fprintf(stderr, "nsh: syntax error\n");
  }
  return last_status;
}
