// C++ allocation through the runtime's heap: objects and arrays made with new and new[],
// destroyed with delete and delete[]; "exhaust" then asks for more than the heap holds, and
// "pure" calls a pure virtual function from a base class's constructor, through the vtable
// that names __cxa_pure_virtual only weakly.
#include <stdio.h>
#include <string.h>

#include <new>

namespace {

struct Counter {
  static int live;
  int value;
  Counter() : value(7) { ++live; }
  ~Counter() { --live; }
};
int Counter::live = 0;

struct alignas(64) Wide {
  char bytes[64];
};

}  // namespace

// Outside the anonymous namespace, so the compiler cannot know Square is the only shape and
// call its area directly.
struct Shape {
  __attribute__((noinline)) Shape() {
    // Through a pointer the compiler cannot see through: the call goes through the vtable of
    // the object under construction, Shape's, where area is pure.
    Shape *volatile self = this;
    printf("area %d\n", self->area());
  }
  virtual ~Shape() = default;
  virtual int area() = 0;
};

struct Square : Shape {
  int area() override { return 4; }
};

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "exhaust") == 0) {
    char *keep = new char[1000];
    printf("got %d\n", keep != nullptr);
    char *too_much = new char[2u << 20];
    printf("survived %p\n", static_cast<void *>(too_much));
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "pure") == 0) {
    Square square;
    printf("survived %d\n", square.area());
    return 0;
  }
  if (argc > 1 && strcmp(argv[1], "nothrow") == 0) {
    char *none = new (std::nothrow) char[2u << 20];
    printf("nothrow %s\n", none == nullptr ? "null" : "block");
    return 0;
  }
  Counter *one = new Counter;
  Counter *many = new Counter[5];
  int sum = one->value;
  for (int i = 0; i < 5; ++i) sum += many[i].value;
  printf("live %d sum %d\n", Counter::live, sum);
  delete one;
  delete[] many;
  Wide *wide = new Wide;
  char place[sizeof(Counter)];
  Counter *placed = new (place) Counter;
  printf("live %d wide aligned %d placed %d\n", Counter::live,
         reinterpret_cast<unsigned long>(wide) % 64 == 0,
         placed == reinterpret_cast<Counter *>(place));
  placed->~Counter();
  delete wide;
  return 0;
}
