/* The physical floor of `ruvo lookup`: a static program that does only the
 * exchanges ruvo makes, with no discovery file, JSON or rendering.
 *
 *   raw_exchange PORT TOKEN lookup        one POST /v1/lookup {"text":"RAG"} (curl's work)
 *   raw_exchange PORT TOKEN probe+lookup  GET /v1/health, then the lookup (ruvo's work)
 */
#define _GNU_SOURCE
#include "exchange.h"

#include <stdlib.h>

static const char kLookupBody[] = "{\"text\":\"RAG\"}";

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: raw_exchange PORT TOKEN lookup|probe+lookup\n");
    return 2;
  }
  unsigned short port = (unsigned short)atoi(argv[1]);
  const char* token = argv[2];
  const char* mode = argv[3];
  static char probe[1024], lookup[1024], reply[65536];
  int probe_len = exchange_build(probe, sizeof probe, "GET", "/v1/health", token, "");
  int lookup_len = exchange_build(lookup, sizeof lookup, "POST", "/v1/lookup", token, kLookupBody);
  if (probe_len < 0 || lookup_len < 0) return 2;

  if (strcmp(mode, "lookup") == 0) {
    return exchange_once(port, lookup, lookup_len, reply, sizeof reply) < 0;
  }
  if (strcmp(mode, "probe+lookup") == 0) {
    if (exchange_once(port, probe, probe_len, reply, sizeof reply) < 0) return 1;
    return exchange_once(port, lookup, lookup_len, reply, sizeof reply) < 0;
  }
  fprintf(stderr, "raw_exchange: unknown mode %s\n", mode);
  return 2;
}
