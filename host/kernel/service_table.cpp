#include "host/kernel/service_table.h"

#include <array>
#include <cstring>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "host/kernel/service_handlers.h"

namespace nuv {
namespace {

// The arguments of one call, read in slot order.
template <typename... A>
struct Arguments {
  static_assert(sizeof...(A) <= 3);
  std::tuple<A...> values;

  // The first error of the arguments, or 0. Reading stops at the first error, unless `all`
  // asks for every argument (to show them).
  int32_t read(Kernel& k, const Slots& slots, bool all) {
    int32_t error = 0;
    auto one = [&](auto& arg, size_t index) {
      if (error < 0 && !all) return;
      int32_t rc = arg.read(ArgSource{k, slots, index});
      if (error == 0) error = rc;
    };
    [&]<size_t... I>(std::index_sequence<I...>) { (one(std::get<I>(values), I), ...); }
    (std::index_sequence_for<A...>{});
    return error;
  }

  // What was read, into the call's args; a slot beyond the arguments is a plain number.
  void show(const Slots& slots, ServiceCall& call) const {
    [&]<size_t... I>(std::index_sequence<I...>) {
      ((std::get<I>(values).show(call.args[I]) ||
        (call.args[I] = shown_number(A::kShown, slots[I]), true)),
       ...);
    }
    (std::index_sequence_for<A...>{});
    for (size_t i = sizeof...(A); i < slots.size(); ++i) {
      call.args[i] = shown_number(None::kShown, slots[i]);
    }
  }

  void show_stored(ServiceCall& call) const {
    [&]<size_t... I>(std::index_sequence<I...>) {
      (show_stored_one(std::get<I>(values), call.args[I]), ...);
    }
    (std::index_sequence_for<A...>{});
  }

  template <typename T>
  static void show_stored_one(const T& arg, decoded::Value& v) {
    if constexpr (requires { arg.show_stored(v); }) arg.show_stored(v);
  }

  // For a call answered from a record: each destination takes what was stored at its address.
  void take_stored(const std::vector<CallStore>& stores) {
    [&]<size_t... I>(std::index_sequence<I...>) {
      (take_stored_one(std::get<I>(values), stores), ...);
    }
    (std::index_sequence_for<A...>{});
  }

  template <typename T>
  static void take_stored_one(T& arg, const std::vector<CallStore>& stores) {
    if constexpr (requires { arg.take_stored(std::span<const uint8_t>{}); }) {
      for (const CallStore& s : stores) {
        if (s.address == arg.address) {
          arg.take_stored(s.bytes);
          return;
        }
      }
    }
  }
};

template <typename Handler>
struct HandlerArguments;
template <typename... P>
struct HandlerArguments<int32_t (*)(Kernel&, P...)> {
  using type = Arguments<std::remove_cvref_t<P>...>;
};

template <auto Handler>
int32_t serve(Kernel& k, const Slots& slots, ServiceCall* shown) {
  typename HandlerArguments<decltype(Handler)>::type args;
  int32_t error = args.read(k, slots, shown != nullptr);
  if (shown) args.show(slots, *shown);
  if (error < 0) return error;
  int32_t result = std::apply([&](auto&... a) { return Handler(k, a...); }, args.values);
  if (shown) args.show_stored(*shown);
  return result;
}

// The slots a call uses: up to the last that is not None. A handler takes its arguments in
// slot order, so no slot it uses may follow an unused one.
template <typename... A>
constexpr uint32_t arity() {
  uint32_t used = 0, at = 0;
  ((++at, used = std::is_same_v<A, None> ? used : at), ...);
  return used;
}
template <typename... A>
constexpr bool unused_slots_last() {
  uint32_t nones = 0;
  bool ok = true;
  ((ok = ok && (std::is_same_v<A, None> || nones == 0), nones += std::is_same_v<A, None>), ...);
  return ok;
}

template <typename... A>
void show(Kernel& k, const Slots& slots, ServiceCall& shown, const std::vector<CallStore>& stored) {
  static_assert(unused_slots_last<A...>(), "a service's unused slots come after its used ones");
  Arguments<A...> args;
  args.read(k, slots, true);
  args.show(slots, shown);
  if (stored.empty()) return;
  args.take_stored(stored);
  args.show_stored(shown);
}

#define NUV_SERVE_SYS(name) &serve<&svc_##name>
#define NUV_SERVE_NI(name) nullptr
#define NUV_SERVICE_INFO(num, name, entry, a, b, c)                                             \
  ServiceInfo{num, #name, arity<NUV_ARG(a), NUV_ARG(b), NUV_ARG(c)>(), NUV_SERVE_##entry(name), \
              &show<NUV_ARG(a), NUV_ARG(b), NUV_ARG(c)>},
constexpr ServiceInfo kServices[] = {NUVRELOS_SERVICES(NUV_SERVICE_INFO)};
#undef NUV_SERVICE_INFO

struct Index {
  std::array<const ServiceInfo*, kServiceNumbers> by_number{};
  bool numbers_unique = true;
  constexpr Index() {
    for (const auto& s : kServices) {
      if (by_number[s.number] != nullptr) numbers_unique = false;
      by_number[s.number] = &s;
    }
  }
};
constexpr Index kIndex;
// Two lines of the list on one number would leave the first unreachable, its wrapper calling
// the other service.
static_assert(kIndex.numbers_unique, "each service of the list has a number of its own");

}  // namespace

const ServiceInfo* find_service(uint32_t number) {
  return number < kServiceNumbers ? kIndex.by_number[number] : nullptr;
}

std::span<const ServiceInfo> all_services() { return kServices; }

}  // namespace nuv
