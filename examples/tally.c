/* tally: adds up the counts per name in a stock file and writes the totals to another file.

     tally stock.txt totals.txt

   Each line of the stock file is "NAME COUNT", the count in decimal or 0x hexadecimal;
   blank lines and lines starting with # are skipped. A bad line is reported and skipped. */
#include <nuvrelos.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

NUVRELOS_COMMAND("tally", "Add up the counts per name in a stock file.");

enum { MAX_NAME = 32 };

typedef struct Item {
  char name[MAX_NAME];
  long total;
} Item;

typedef struct Table {
  Item *items;
  int count;
  int capacity;
} Table;

/* The whole file as one terminated string, or null. */
static char *read_file(const char *path) {
  FILE *in = fopen(path, "r");
  if (in == NULL) return NULL;
  size_t capacity = 256, length = 0;
  char *text = malloc(capacity);
  size_t got;
  while (text != NULL && (got = fread(text + length, 1, capacity - length - 1, in)) > 0) {
    length += got;
    if (length + 1 == capacity) {
      capacity *= 2;
      text = realloc(text, capacity);
    }
  }
  fclose(in);
  if (text != NULL) text[length] = '\0';
  return text;
}

static Item *find_or_add(Table *table, const char *name) {
  for (int i = 0; i < table->count; ++i) {
    if (strcmp(table->items[i].name, name) == 0) return &table->items[i];
  }
  if (table->count == table->capacity) {
    table->capacity = table->capacity == 0 ? 8 : table->capacity * 2;
    table->items = realloc(table->items, (size_t)table->capacity * sizeof(Item));
    if (table->items == NULL) return NULL;
  }
  Item *item = &table->items[table->count++];
  strncpy(item->name, name, MAX_NAME - 1);
  item->name[MAX_NAME - 1] = '\0';
  item->total = 0;
  return item;
}

/* One line: 1 counted, 0 skipped, -1 malformed. */
static int tally_line(Table *table, char *line) {
  char name[MAX_NAME * 8], count_text[64];
  if (line[0] == '\0' || line[0] == '#') return 0;
  if (sscanf(line, "%s %s", name, count_text) != 2 || strlen(name) >= MAX_NAME) return -1;
  char *end;
  long count = strtol(count_text, &end, 0);
  if (*end != '\0') return -1;
  Item *item = find_or_add(table, name);
  if (item == NULL) return -1;
  item->total += count;
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    printf("usage: tally STOCK-FILE TOTALS-FILE\n");
    return 2;
  }
  char *text = read_file(argv[1]);
  if (text == NULL) {
    printf("tally: cannot read %s\n", argv[1]);
    return 1;
  }
  Table table = {NULL, 0, 0};
  int lines = 0, number = 0;
  for (char *line = text; line != NULL;) {
    char *next = strchr(line, '\n');
    if (next != NULL) *next++ = '\0';
    ++number;
    int result = tally_line(&table, line);
    if (result < 0) printf("tally: %s:%d: not \"NAME COUNT\": %s\n", argv[1], number, line);
    if (result > 0) ++lines;
    line = next;
  }
  FILE *out = fopen(argv[2], "w");
  if (out == NULL) {
    printf("tally: cannot write %s\n", argv[2]);
    return 1;
  }
  for (int i = 0; i < table.count; ++i) {
    fprintf(out, "%s %d\n", table.items[i].name, (int)table.items[i].total);
  }
  if (fclose(out) != 0) {
    printf("tally: cannot write %s\n", argv[2]);
    return 1;
  }
  printf("%d lines, %d names -> %s\n", lines, table.count, argv[2]);
  return 0;
}
