/* stb's single-file libraries as Debian ships them: stb_ds (growing arrays, hash maps and
   string maps), stb_sprintf (its own floating-point formatting), stb_rect_pack (sorting and
   packing rectangles) and stb_perlin (noise, on the math library). */
#define STB_DS_IMPLEMENTATION
#define STB_SPRINTF_IMPLEMENTATION
#define STB_RECT_PACK_IMPLEMENTATION
#define STB_PERLIN_IMPLEMENTATION
#include <stb_ds.h>
#include <stb_perlin.h>
#include <stb_rect_pack.h>
#include <stb_sprintf.h>
#include <stdio.h>

int main(void) {
  int *squares = NULL;
  for (int i = 0; i < 1000; ++i) arrput(squares, i * i);
  printf("array %d last %d\n", (int)arrlen(squares), arrlast(squares));
  arrfree(squares);

  struct {
    int key;
    int value;
  } *map = NULL;
  for (int i = 0; i < 500; ++i) hmput(map, i * 7, i);
  hmdel(map, 14);
  printf("map %d of 35: %d, of 14: %d\n", (int)hmlen(map), hmget(map, 35), (int)hmgeti(map, 14));
  hmfree(map);

  struct {
    char *key;
    int value;
  } *names = NULL;
  sh_new_strdup(names);
  shput(names, "alpha", 1);
  shput(names, "beta", 2);
  shput(names, "alpha", 3);
  printf("names %d alpha %d beta %d\n", (int)shlen(names), shget(names, "alpha"),
         shget(names, "beta"));
  shfree(names);

  char text[256];
  stbsp_snprintf(text, sizeof text, "%.3f %e %g %08.2f %x %s", 3.14159265, 12345.678, 0.0001, -2.5,
                 255, "end");
  printf("sprintf %s\n", text);

  stbrp_context context;
  stbrp_node nodes[64];
  stbrp_rect rects[6];
  for (int i = 0; i < 6; ++i) {
    rects[i].id = i;
    rects[i].w = 10 + i * 7;
    rects[i].h = 30 - i * 4;
  }
  stbrp_init_target(&context, 64, 64, nodes, 64);
  int all = stbrp_pack_rects(&context, rects, 6);
  printf("packed %d:", all);
  for (int i = 0; i < 6; ++i) printf(" %d@%d,%d", rects[i].id, rects[i].x, rects[i].y);
  printf("\n");

  float sum = 0;
  for (int i = 0; i < 100; ++i) sum += stb_perlin_noise3(i * 0.37f, i * 0.11f, 0.5f, 0, 0, 0);
  stbsp_snprintf(text, sizeof text, "%.4f", sum);
  printf("perlin %s\n", text);
  return 0;
}
