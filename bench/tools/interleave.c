/* Times several commands run after run, taking turns with the order rotating
 * each time (A B C, B C A, C A B, ...), so a burst of load on a shared
 * machine falls on all of them alike and their ratios stay fair. Each run:
 * spawn with standard input and output on the null device, wait for exit; a
 * non-zero exit ends the benchmark.
 *
 *   interleave RUNS WARMUP -- CMD1 ARGS... -- CMD2 ARGS... [-- ...]
 *
 * Prints one line per command: "<index> median_us min_us p95_us max_us".
 */
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static double now_us(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

static int cmp_double(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

/* One run of argv; returns the wall-clock microseconds from spawn to exit. */
static double run_once(char** argv, posix_spawn_file_actions_t* actions) {
  pid_t pid;
  double t0 = now_us();
  int rc = posix_spawnp(&pid, argv[0], actions, NULL, argv, environ);
  if (rc != 0) {
    fprintf(stderr, "interleave: cannot start %s: %s\n", argv[0], strerror(rc));
    exit(1);
  }
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  double elapsed = now_us() - t0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "interleave: %s failed (status %d)\n", argv[0], status);
    exit(1);
  }
  return elapsed;
}

int main(int argc, char** argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) {
    fprintf(stderr, "usage: interleave RUNS WARMUP -- CMD... [-- CMD...]\n");
    return 2;
  }
  int runs = atoi(argv[1]);
  int warmup = atoi(argv[2]);
  if (runs <= 0 || warmup < 0) return 2;

  /* Split the remaining words at each "--" into NULL-terminated vectors. */
  char** cmds[32];
  int ncmd = 0;
  for (int i = 3; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      argv[i] = NULL;
      if (i + 1 < argc && ncmd < 32) cmds[ncmd++] = argv + i + 1;
    }
  }
  if (ncmd == 0) return 2;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  double* times = malloc(sizeof(double) * (size_t)runs * (size_t)ncmd);
  for (int r = 0; r < warmup; ++r)
    for (int c = 0; c < ncmd; ++c) run_once(cmds[c], &actions);
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < ncmd; ++k) {
      const int c = (r + k) % ncmd;
      times[c * runs + r] = run_once(cmds[c], &actions);
    }
  }

  for (int c = 0; c < ncmd; ++c) {
    double* t = times + c * runs;
    qsort(t, (size_t)runs, sizeof(double), cmp_double);
    double med = runs % 2 ? t[runs / 2] : (t[runs / 2 - 1] + t[runs / 2]) / 2;
    /* nearest rank */
    double p95 = t[(int)((runs * 95 + 99) / 100) - 1];
    printf("%d %.1f %.1f %.1f %.1f\n", c, med, t[0], p95, t[runs - 1]);
  }
  return 0;
}
