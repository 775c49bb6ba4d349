// A value or the kernel error that stands in its place, and TRY, which hands the error on:
//   std::string path = TRY(read_path(...));
// leaves the function with the error (as an int32_t answer or another ErrorOr) when there is
// one, so no caller writes `if (rc < 0) return rc;` again.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>

#include "host/base/guest_errors.h"

namespace nuv {

template <typename T>
class [[nodiscard]] ErrorOr {
 public:
  ErrorOr(T value) : v_(std::move(value)) {}  // NOLINT: a value is the plain case
  ErrorOr(err::Error error) : v_(error) {}    // NOLINT: so is an error

  bool is_error() const { return std::holds_alternative<err::Error>(v_); }
  err::Error error() const { return std::get<err::Error>(v_); }
  T& value() { return std::get<T>(v_); }
  const T& value() const { return std::get<T>(v_); }
  T release_value() { return std::move(std::get<T>(v_)); }

 private:
  std::variant<T, err::Error> v_;
};

template <>
class [[nodiscard]] ErrorOr<void> {
 public:
  ErrorOr() = default;
  ErrorOr(err::Error error) : error_(error) {}  // NOLINT

  bool is_error() const { return error_ != 0; }
  err::Error error() const { return static_cast<err::Error>(error_); }
  void release_value() const {}

 private:
  int32_t error_ = 0;
};

}  // namespace nuv

// The value of an ErrorOr expression, or a return of its error from the enclosing function.
#define TRY(expression)                               \
  ({                                                  \
    auto&& nuv_try_ = (expression);                   \
    if (nuv_try_.is_error()) return nuv_try_.error(); \
    nuv_try_.release_value();                         \
  })
