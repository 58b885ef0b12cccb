/* Hostile load on the local service over raw loopback sockets, for
 * bench/hostile.sh. The port and the token come from the service's discovery
 * file (explain.json); every request carries the X-Ruvo-Token header unless
 * given with -u, asks "Connection: close", and is timed from connect to the
 * end of the reply's stream.
 *
 *   hostile_load EXPLAIN run SECONDS CAP_S GROUP...
 *     GROUP := -g NAME THREADS PAUSE_MS DELAY_MS COUNT REQUEST...
 *     REQUEST := -r METHOD PATH BODY      (with the token)
 *              | -u METHOD PATH BODY      (without it)
 *   BODY is the text itself, "" for none, or @FILE for a file's bytes.
 *
 *   Each of a group's THREADS clients starts DELAY_MS after the run, sends the
 *   group's requests in turn (client k takes k, k+THREADS, ... of the list),
 *   waits PAUSE_MS after each reply, and makes COUNT exchanges (0: until the
 *   run ends). The run ends after SECONDS, on SIGTERM or SIGINT, or, when a
 *   group has a COUNT, once every such group is done. An exchange in flight
 *   when the run ends is finished and counted; none takes longer than CAP_S.
 *   Prints one line per group:
 *     NAME n N p50 MS p95 MS max MS ok N partial N statuses S,S,... locked N
 *   where a status is "200", "503/busy" (status and the reply's "kind"),
 *   "err/connect", "err/noreply" or "err/timeout"; "partial" counts replies
 *   saying "partial": true; "locked" counts replies that mention "database is
 *   locked". A group of at most 40 exchanges also gets a line
 *     NAME each STATUS:MS STATUS:MS ...
 *
 *   hostile_load EXPLAIN hold export N
 *   hostile_load EXPLAIN hold upload N BYTES
 *     Opens N connections at once and leaves them hanging: "export" sends
 *     GET /v1/export, reads the reply's head and then nothing more; "upload"
 *     sends POST /v1/import declaring BYTES and sends one byte less. Prints
 *     "held N statuses S,S,... sent_mib X" and then "ready", and keeps every
 *     connection open until SIGTERM or SIGINT, then closes them all and prints
 *     "closed". An upload's status is "held" (all its bytes but one sent, no
 *     reply), "stalled" (the service stopped reading for 10 s), "closed" (no
 *     reply) or the status the service answered early with.
 */
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "hostile_wire.h"

#define REPLY_KEEP (1024 * 1024) /* bytes of each reply kept for its status, kind and flags */
#define MAX_STATUSES 16
#define EACH_LIMIT 40

static volatile sig_atomic_t stopping;

static void on_stop_signal(int sig) {
  (void)sig;
  stopping = 1;
}

/* ---- run ---- */

struct request {
  const char* method;
  const char* path;
  const char* body;
  size_t body_len;
  int with_token;
};

struct sample {
  double ms;
  int status; /* index into the group's status names */
};

struct group {
  const char* name;
  int threads, pause_ms, delay_ms, count;
  struct request* requests;
  int n_requests;
  pthread_mutex_t lock;
  struct sample* samples;
  long n_samples, cap_samples;
  char statuses[MAX_STATUSES][40];
  long status_counts[MAX_STATUSES];
  int n_statuses;
  long partial, locked;
  int threads_done;
};

struct client {
  struct group* group;
  int index;
};

static double cap_ms;
static void sleep_ms(double ms);
static double run_end_ms;

/* One exchange: its time, and its status written into `status`. */
static double exchange(const struct request* rq, char* reply, char* status, size_t status_cap, int* partial,
                       int* locked) {
  char head[8192];
  int head_len = build_head(head, sizeof head, rq->method, rq->path, rq->with_token, rq->body_len);
  if (head_len < 0) die("a request path is too long");
  double t0 = now_ms();
  double deadline = t0 + cap_ms;
  size_t got = 0;
  *partial = *locked = 0;
  int fd = connect_loopback();
  if (fd < 0) {
    snprintf(status, status_cap, "err/connect");
    double ms = now_ms() - t0;
    /* A service that is gone must not make a client without pause spin. */
    sleep_ms(10);
    return ms;
  }
  int sent = send_until(fd, head, (size_t)head_len, deadline);
  if (sent == 0) sent = send_until(fd, rq->body, rq->body_len, deadline);
  /* A service that answers before it has read the whole body (a refusal)
   * still has its reply read below. */
  int timed_out = sent == -2;
  while (!timed_out) {
    if (!wait_for(fd, POLLIN, deadline)) {
      timed_out = 1;
      break;
    }
    char sink[65536];
    int keep = got + 1 < REPLY_KEEP;
    ssize_t r = recv(fd, keep ? reply + got : sink, keep ? REPLY_KEEP - 1 - got : sizeof sink, MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r <= 0) break;
    if (keep) got += (size_t)r;
  }
  double ms = now_ms() - t0;
  close(fd);
  reply[got] = '\0';
  if (timed_out) {
    snprintf(status, status_cap, "err/timeout");
    return ms;
  }
  status_of(reply, got, status, status_cap);
  *partial = says_true(reply, "\"partial\"");
  *locked = strstr(reply, "database is locked") != NULL;
  return ms;
}

static void record(struct group* g, double ms, const char* status, int partial, int locked) {
  pthread_mutex_lock(&g->lock);
  int k = 0;
  while (k < g->n_statuses && strcmp(g->statuses[k], status) != 0) k++;
  if (k == g->n_statuses && k < MAX_STATUSES) snprintf(g->statuses[g->n_statuses++], sizeof g->statuses[0], "%s", status);
  if (k == MAX_STATUSES) k = MAX_STATUSES - 1; /* more kinds than expected: lumped with the last */
  g->status_counts[k]++;
  if (g->n_samples == g->cap_samples) {
    g->cap_samples = g->cap_samples ? g->cap_samples * 2 : 256;
    g->samples = realloc(g->samples, (size_t)g->cap_samples * sizeof *g->samples);
    if (!g->samples) die("out of memory");
  }
  g->samples[g->n_samples++] = (struct sample){ms, k};
  g->partial += partial;
  g->locked += locked;
  pthread_mutex_unlock(&g->lock);
}

static void sleep_ms(double ms) {
  if (ms <= 0) return;
  struct timespec ts = {(time_t)(ms / 1000), (long)((ms - (double)(time_t)(ms / 1000) * 1000) * 1e6)};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !stopping) {
  }
}

static int run_over(void) { return stopping || now_ms() >= run_end_ms; }

static void* client_main(void* arg) {
  struct client* c = arg;
  struct group* g = c->group;
  char* reply = malloc(REPLY_KEEP);
  if (!reply) die("out of memory");
  double start = now_ms() + g->delay_ms;
  while (!run_over() && now_ms() < start) sleep_ms(start - now_ms() < 50 ? start - now_ms() : 50);
  int next = c->index % g->n_requests;
  for (int made = 0; !run_over() && (g->count == 0 || made < g->count); made++) {
    char status[40];
    int partial, locked;
    double ms = exchange(&g->requests[next], reply, status, sizeof status, &partial, &locked);
    record(g, ms, status, partial, locked);
    next = (next + g->threads) % g->n_requests;
    if (g->pause_ms > 0) sleep_ms(g->pause_ms);
  }
  free(reply);
  pthread_mutex_lock(&g->lock);
  g->threads_done++;
  pthread_mutex_unlock(&g->lock);
  return NULL;
}

static int cmp_double(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

/* Nearest rank. */
static double percentile(const double* sorted, long n, double p) {
  long rank = (long)(p * (double)n + 0.999999);
  if (rank < 1) rank = 1;
  return sorted[rank - 1];
}

static void report(struct group* g) {
  printf("%s n %ld", g->name, g->n_samples);
  if (g->n_samples > 0) {
    double* ms = malloc((size_t)g->n_samples * sizeof *ms);
    long ok = 0;
    for (long i = 0; i < g->n_samples; i++) {
      ms[i] = g->samples[i].ms;
      ok += strcmp(g->statuses[g->samples[i].status], "200") == 0;
    }
    qsort(ms, (size_t)g->n_samples, sizeof *ms, cmp_double);
    printf(" p50 %.2f p95 %.2f max %.2f ok %ld", percentile(ms, g->n_samples, 0.5),
           percentile(ms, g->n_samples, 0.95), ms[g->n_samples - 1], ok);
    free(ms);
  } else {
    printf(" p50 - p95 - max - ok 0");
  }
  printf(" partial %ld statuses ", g->partial);
  for (int k = 0; k < g->n_statuses; k++) printf("%s%s:%ld", k ? "," : "", g->statuses[k], g->status_counts[k]);
  if (g->n_statuses == 0) printf("-");
  printf(" locked %ld\n", g->locked);
  if (g->n_samples > 0 && g->n_samples <= EACH_LIMIT) {
    printf("%s each", g->name);
    for (long i = 0; i < g->n_samples; i++) printf(" %s:%.1f", g->statuses[g->samples[i].status], g->samples[i].ms);
    printf("\n");
  }
}

/* Whether text is one of the arguments (a body given inline) rather than read from a file. */
static int argv_owns(int argc, char** argv, const char* text) {
  for (int i = 0; i < argc; i++) {
    if (argv[i] == text) return 1;
  }
  return 0;
}

static int run(int argc, char** argv) {
  if (argc < 3) die("usage: hostile_load EXPLAIN run SECONDS CAP_S GROUP...");
  double seconds = atof(argv[0]);
  cap_ms = atof(argv[1]) * 1e3;
  struct group* groups = calloc((size_t)argc, sizeof *groups);
  int n_groups = 0;
  for (int i = 2; i < argc;) {
    if (strcmp(argv[i], "-g") == 0 && i + 5 < argc) {
      struct group* g = &groups[n_groups++];
      g->name = argv[i + 1];
      g->threads = atoi(argv[i + 2]);
      g->pause_ms = atoi(argv[i + 3]);
      g->delay_ms = atoi(argv[i + 4]);
      g->count = atoi(argv[i + 5]);
      g->requests = calloc((size_t)argc, sizeof *g->requests);
      pthread_mutex_init(&g->lock, NULL);
      if (g->threads < 1) die("a group needs at least one client");
      i += 6;
    } else if ((strcmp(argv[i], "-r") == 0 || strcmp(argv[i], "-u") == 0) && i + 3 < argc && n_groups > 0) {
      struct group* g = &groups[n_groups - 1];
      struct request* rq = &g->requests[g->n_requests++];
      rq->method = argv[i + 1];
      rq->path = argv[i + 2];
      rq->with_token = argv[i][1] == 'r';
      if (argv[i + 3][0] == '@') {
        rq->body = read_file(argv[i + 3] + 1, &rq->body_len);
        if (!rq->body) die("cannot read a body file");
      } else {
        rq->body = argv[i + 3];
        rq->body_len = strlen(argv[i + 3]);
      }
      i += 4;
    } else {
      die("bad arguments: expected -g NAME THREADS PAUSE_MS DELAY_MS COUNT or -r/-u METHOD PATH BODY");
    }
  }
  for (int k = 0; k < n_groups; k++) {
    if (groups[k].n_requests == 0) die("a group has no request");
  }

  run_end_ms = now_ms() + seconds * 1e3;
  int total = 0;
  for (int k = 0; k < n_groups; k++) total += groups[k].threads;
  pthread_t* threads = calloc((size_t)total, sizeof *threads);
  struct client* clients = calloc((size_t)total, sizeof *clients);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  for (int k = 0, t = 0; k < n_groups; k++) {
    for (int j = 0; j < groups[k].threads; j++, t++) {
      clients[t] = (struct client){&groups[k], j};
      if (pthread_create(&threads[t], &attr, client_main, &clients[t]) != 0) die("cannot start a client");
    }
  }
  /* Counted groups end the run when they are all done. */
  for (;;) {
    int counted = 0, pending = 0;
    for (int k = 0; k < n_groups; k++) {
      if (groups[k].count == 0) continue;
      counted++;
      pthread_mutex_lock(&groups[k].lock);
      pending += groups[k].threads_done < groups[k].threads;
      pthread_mutex_unlock(&groups[k].lock);
    }
    if (run_over() || (counted > 0 && pending == 0)) break;
    sleep_ms(20);
  }
  stopping = 1;
  for (int t = 0; t < total; t++) pthread_join(threads[t], NULL);
  for (int k = 0; k < n_groups; k++) report(&groups[k]);
  fflush(stdout);
  for (int k = 0; k < n_groups; k++) {
    for (int r = 0; r < groups[k].n_requests; r++) {
      if (groups[k].requests[r].body != NULL && argv_owns(argc, argv, groups[k].requests[r].body) == 0) {
        free((char*)groups[k].requests[r].body);
      }
    }
    free(groups[k].requests);
    free(groups[k].samples);
    pthread_mutex_destroy(&groups[k].lock);
  }
  free(groups);
  free(threads);
  free(clients);
  return 0;
}

/* ---- hold ---- */

struct held {
  int fd;
  long bytes; /* upload: the declared length */
  long sent;
  char status[40];
};

static int hold_upload;

/* Reads what the service answered on fd, if anything, within wait_ms. */
static void early_reply(struct held* h, double wait_ms) {
  char reply[4096];
  size_t got = 0;
  double deadline = now_ms() + wait_ms;
  while (got + 1 < sizeof reply && wait_for(h->fd, POLLIN, deadline)) {
    ssize_t r = recv(h->fd, reply + got, sizeof reply - 1 - got, MSG_DONTWAIT);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r <= 0) break;
    got += (size_t)r;
    reply[got] = '\0';
    if (strstr(reply, "\r\n\r\n")) break;
  }
  reply[got] = '\0';
  if (got > 0) status_of(reply, got, h->status, sizeof h->status);
}

static void* hold_main(void* arg) {
  struct held* h = arg;
  snprintf(h->status, sizeof h->status, "err/connect");
  h->fd = connect_loopback();
  if (h->fd < 0) return NULL;
  char head[1024];
  int n = hold_upload ? build_head(head, sizeof head, "POST", "/v1/import", 1, (size_t)h->bytes)
                      : snprintf(head, sizeof head,
                                 "GET /v1/export HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: %s\r\n"
                                 "Connection: close\r\n\r\n",
                                 token);
  if (send_until(h->fd, head, (size_t)n, now_ms() + 10000) != 0) {
    snprintf(h->status, sizeof h->status, "closed");
    return NULL;
  }
  if (!hold_upload) {
    snprintf(h->status, sizeof h->status, "err/nohead");
    early_reply(h, 10000);
    return NULL;
  }
  static const char line[] = "{\"term\":\"held upload\",\"fields\":{\"definition\":\"one byte short\"}}\n";
  char chunk[65536];
  for (size_t i = 0; i < sizeof chunk; i++) chunk[i] = line[i % (sizeof line - 1)];
  snprintf(h->status, sizeof h->status, "held");
  while (h->sent < h->bytes - 1) {
    long left = h->bytes - 1 - h->sent;
    size_t piece = left < (long)sizeof chunk ? (size_t)left : sizeof chunk;
    /* Sent piece by piece so that a service which stops reading shows as
     * the bytes it took. */
    int r = send_until(h->fd, chunk, piece, now_ms() + 10000);
    if (r == -2) {
      snprintf(h->status, sizeof h->status, "stalled");
      break;
    }
    if (r == -1) {
      snprintf(h->status, sizeof h->status, "closed");
      break;
    }
    h->sent += (long)piece;
  }
  early_reply(h, 200);
  return NULL;
}

static int hold(int argc, char** argv) {
  if (argc < 2) die("usage: hostile_load EXPLAIN hold export N | hold upload N BYTES");
  hold_upload = strcmp(argv[0], "upload") == 0;
  if (!hold_upload && strcmp(argv[0], "export") != 0) die("hold takes export or upload");
  int n = atoi(argv[1]);
  long bytes = hold_upload && argc > 2 ? atol(argv[2]) : 0;
  if (n < 1 || (hold_upload && bytes < 2)) die("hold needs a count (and for uploads a length of at least 2)");
  struct held* held = calloc((size_t)n, sizeof *held);
  pthread_t* threads = calloc((size_t)n, sizeof *threads);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  for (int i = 0; i < n; i++) {
    held[i].fd = -1;
    held[i].bytes = bytes;
    if (pthread_create(&threads[i], &attr, hold_main, &held[i]) != 0) die("cannot start a holder");
  }
  for (int i = 0; i < n; i++) pthread_join(threads[i], NULL);

  char names[MAX_STATUSES][40];
  long counts[MAX_STATUSES] = {0};
  int kinds = 0;
  double sent = 0;
  for (int i = 0; i < n; i++) {
    int k = 0;
    while (k < kinds && strcmp(names[k], held[i].status) != 0) k++;
    if (k == kinds && k < MAX_STATUSES) snprintf(names[kinds++], sizeof names[0], "%s", held[i].status);
    counts[k < MAX_STATUSES ? k : MAX_STATUSES - 1]++;
    sent += (double)held[i].sent;
  }
  printf("held %d statuses ", n);
  for (int k = 0; k < kinds; k++) printf("%s%s:%ld", k ? "," : "", names[k], counts[k]);
  printf(" sent_mib %.1f\nready\n", sent / 1048576.0);
  fflush(stdout);
  while (!stopping) sleep_ms(100);
  for (int i = 0; i < n; i++) {
    if (held[i].fd >= 0) close(held[i].fd);
  }
  printf("closed\n");
  fflush(stdout);
  free(held);
  free(threads);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) die("usage: hostile_load EXPLAIN run ... | hold ...");
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  signal(SIGPIPE, SIG_IGN);
  /* Ends with the script that started it, even when that one is killed. */
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == 1) return 2;
  struct rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  read_discovery(argv[1]);
  if (strcmp(argv[2], "run") == 0) return run(argc - 3, argv + 3);
  if (strcmp(argv[2], "hold") == 0) return hold(argc - 3, argv + 3);
  die("the second word is run or hold");
}
