/* uthash, utlist, utarray and utstring as Debian ships them: a hash table of words with their
   counts, sorted and printed; a doubly linked list sorted; an array and a growing string. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <utarray.h>
#include <uthash.h>
#include <utlist.h>
#include <utstring.h>

struct word {
  char text[16];
  int count;
  UT_hash_handle hh;
};

struct item {
  int value;
  struct item *prev, *next;
};

static int by_count_then_text(struct word *a, struct word *b) {
  if (a->count != b->count) return b->count - a->count;
  return strcmp(a->text, b->text);
}

static int by_value(struct item *a, struct item *b) { return a->value - b->value; }

int main(void) {
  const char *text[] = {"the", "cat", "and", "the", "hat", "and", "the", "bat", "sat"};
  struct word *words = NULL;
  for (size_t i = 0; i < sizeof text / sizeof text[0]; ++i) {
    struct word *w;
    HASH_FIND_STR(words, text[i], w);
    if (w == NULL) {
      w = calloc(1, sizeof *w);
      strcpy(w->text, text[i]);
      HASH_ADD_STR(words, text, w);
    }
    w->count++;
  }
  struct word *cat;
  HASH_FIND_STR(words, "cat", cat);
  HASH_DEL(words, cat);
  free(cat);
  HASH_SORT(words, by_count_then_text);
  struct word *w, *tmp;
  HASH_ITER(hh, words, w, tmp) { printf("%s %d\n", w->text, w->count); }
  printf("words %u\n", HASH_COUNT(words));

  struct item *list = NULL, *it;
  int values[] = {5, -2, 9, 0, 3};
  for (int i = 0; i < 5; ++i) {
    it = malloc(sizeof *it);
    it->value = values[i];
    DL_APPEND(list, it);
  }
  DL_SORT(list, by_value);
  DL_FOREACH(list, it) { printf("%d ", it->value); }
  printf("\n");

  UT_array *numbers;
  utarray_new(numbers, &ut_int_icd);
  for (int i = 0; i < 100; ++i) utarray_push_back(numbers, &i);
  int *last = (int *)utarray_back(numbers);
  printf("array %u last %d\n", utarray_len(numbers), *last);
  utarray_free(numbers);

  UT_string *s;
  utstring_new(s);
  for (int i = 0; i < 20; ++i) utstring_printf(s, "%d,", i * i);
  printf("string %u %s\n", (unsigned)utstring_len(s), utstring_body(s));
  utstring_free(s);
  return 0;
}
