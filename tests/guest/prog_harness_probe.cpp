// Functions with every kind of result the harness reads back, for its own tests.
#include <stdint.h>
#include <unistd.h>

extern "C" {

uint32_t probe_sum(uint32_t a, uint32_t b, uint32_t c) { return a + b + c; }

long double probe_half(int32_t v) { return static_cast<long double>(v) / 2; }

// Variadic: the count, then that many 32-bit slots.
int32_t probe_count_args(int32_t n, ...) {
  __builtin_va_list ap;
  __builtin_va_start(ap, n);
  int32_t total = 0;
  for (int32_t i = 0; i < n; ++i) total += __builtin_va_arg(ap, int32_t);
  __builtin_va_end(ap);
  return total;
}

extern const uint8_t probe_readonly[4];
const uint8_t probe_readonly[4] = {1, 2, 3, 4};

void probe_store_readonly(void) { *const_cast<volatile uint8_t *>(&probe_readonly[1]) = 9; }

void probe_store_to(uint32_t addr) { *reinterpret_cast<volatile uint8_t *>(addr) = 1; }

uint32_t probe_load_from(uint32_t addr) { return *reinterpret_cast<volatile uint32_t *>(addr); }

void probe_jump_to(uint32_t addr) { reinterpret_cast<void (*)(void)>(addr)(); }

void probe_invalid(void) { __asm__ volatile("ud2"); }

void probe_halt(void) { __asm__ volatile("hlt"); }

int32_t probe_divide(int32_t a, int32_t b) { return a / b; }
}

// n kernel round trips of a service with nothing behind it but the virtual clock.
extern "C" void probe_sleep_calls(uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) usleep(0);
}

int main(int, char **) { return 0; }
