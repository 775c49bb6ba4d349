#include "host/kernel/service_table.h"

namespace nuv {
namespace {

#define NUV_SERVICE_INFO(num, name, a, b, c) \
  ServiceInfo{num, #name, {Shape::a, Shape::b, Shape::c}, &svc_##name},
constexpr ServiceInfo kServices[] = {NUVRELOS_SERVICES(NUV_SERVICE_INFO)};
#undef NUV_SERVICE_INFO

constexpr uint32_t kTableSize = 256;

struct Index {
  std::array<const ServiceInfo*, kTableSize> by_number{};
  constexpr Index() {
    for (const auto& s : kServices) by_number[s.number] = &s;
  }
};
constexpr Index kIndex;

}  // namespace

const ServiceInfo* find_service(uint32_t number) {
  return number < kTableSize ? kIndex.by_number[number] : nullptr;
}

std::span<const ServiceInfo> all_services() { return kServices; }

}  // namespace nuv
