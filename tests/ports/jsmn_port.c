/* jsmn as Debian ships it: a JSON document tokenised, every token printed with its type and
   text, and the errors of broken documents. */
#include <jsmn.h>
#include <stdio.h>
#include <string.h>

static const char *kTypes[] = {"undefined", "object", "array", "string", "primitive"};

static void tokenise(const char *json) {
  jsmn_parser parser;
  jsmntok_t tokens[64];
  jsmn_init(&parser);
  int n = jsmn_parse(&parser, json, strlen(json), tokens, 64);
  printf("%d tokens\n", n);
  for (int i = 0; i < n; ++i) {
    unsigned type = (unsigned)tokens[i].type;
    printf("  %s %.*s (%d)\n", type < 5 ? kTypes[type] : "?", tokens[i].end - tokens[i].start,
           json + tokens[i].start, tokens[i].size);
  }
}

int main(void) {
  tokenise(
      "{\"name\": \"nuvrelos\", \"bits\": 32, \"ok\": true, "
      "\"list\": [1, 2.5, -3e2, null, {\"deep\": []}], \"text\": \"a\\\"b\"}");
  tokenise("[1, 2");
  tokenise("{\"a\" 1}");
  return 0;
}
