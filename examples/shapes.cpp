// shapes: C++ on nuvrelos. A global registry built by its constructor before main, objects
// made with new and arrays with new[], virtual functions, and the C runtime underneath.
//
//   shapes 4      prints the areas of four squares and a circle
#include <stdio.h>
#include <stdlib.h>

#include <new>

namespace {

class Shape {
 public:
  virtual ~Shape() {}
  virtual long area() const = 0;
  virtual const char *kind() const = 0;
};

class Square : public Shape {
 public:
  explicit Square(long side) : side_(side) {}
  long area() const override { return side_ * side_; }
  const char *kind() const override { return "square"; }

 private:
  long side_;
};

class Circle : public Shape {
 public:
  explicit Circle(long radius) : radius_(radius) {}
  long area() const override { return 355 * radius_ * radius_ / 113; }  // pi as 355/113
  const char *kind() const override { return "circle"; }

 private:
  long radius_;
};

// Set up before main runs: the program reads it right away.
struct Registry {
  Registry() : greeting("shapes ready"), made(0) {}
  const char *greeting;
  int made;
};

Registry registry;

}  // namespace

int main(int argc, char **argv) {
  long count = argc > 1 ? strtol(argv[1], nullptr, 10) : 3;
  if (count < 1 || count > 100) {
    printf("usage: shapes [COUNT 1..100]\n");
    return 2;
  }
  printf("%s\n", registry.greeting);
  Shape **shapes = new Shape *[count + 1];
  for (long i = 0; i < count; ++i) shapes[i] = new Square(i + 1);
  shapes[count] = new Circle(count);
  registry.made = static_cast<int>(count + 1);
  long total = 0;
  for (long i = 0; i <= count; ++i) {
    printf("%s %d\n", shapes[i]->kind(), static_cast<int>(shapes[i]->area()));
    total += shapes[i]->area();
  }
  printf("%d shapes, total area %d\n", registry.made, static_cast<int>(total));
  for (long i = 0; i <= count; ++i) delete shapes[i];
  delete[] shapes;
  return 0;
}
