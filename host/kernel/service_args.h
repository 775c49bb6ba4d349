// The argument types of the kernel's handlers. The dispatcher reads each one from its slot
// before the handler runs, from the handler's own parameter types (which the service list
// gives): a descriptor that is not open, a pointer the program cannot hand over, a string too
// long, never reaches a handler; the call answers with that error instead. The same readers
// show the trace what they read, and what the handler stored through them.
//
// Every argument type has
//   int32_t read(const ArgSource&)        0, or the error that answers the call
//   bool show(decoded::Value&) const      what it read, for the trace; false: the slot says all
//   static constexpr Shown kShown          how its slot shows as a plain number
// and a type the kernel stores through also
//   bool show_stored(decoded::Value&) const   what the handler stored, once it did
// Every byte a handler stores in the program's memory goes through those types' put().
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi/gui_records.h"
#include "abi/services.h"
#include "host/base/error_or.h"
#include "host/gui/compositor.h"
#include "host/kernel/kernel.h"
#include "host/kernel/service_call.h"

namespace nuv {

// One call moves at most this much; callers loop on short counts as they must anyway.
inline constexpr size_t kMaxTransfer = 1u << 20;
// A whole file written in one call is held whole.
inline constexpr size_t kMaxWholeFile = 64u << 20;
// The trace shows this much of a buffer.
inline constexpr size_t kMaxShownBytes = 4096;

// Where an argument comes from: the call's slots, and the index of its own (from 0).
struct ArgSource {
  Kernel& kernel;
  const Slots& slots;
  size_t index;

  uint32_t slot() const { return slots[index]; }
  // Another slot, numbered from 1 as the service list numbers them.
  uint32_t slot_number(size_t number) const { return slots[number - 1]; }
  GuestMemory& memory() const { return kernel.memory(); }
};

enum class Shown { Signed, Unsigned, Hex };

// A slot as a plain number of the trace.
decoded::Value shown_number(Shown as, uint32_t slot);

// The one decision for a guest string: kEFAULT when its bytes are not there, `too_long` when
// every byte up to the limit is there and none is its NUL.
ErrorOr<std::string> read_guest_string(const GuestMemory& memory, uint32_t address, size_t limit,
                                       err::Error too_long);

// Stores bytes in the program's memory for a handler: false where it is not writable.
bool store_for_program(Kernel& kernel, uint32_t address, const void* bytes, size_t size);

// How many bytes of a transfer of `count` at the slot's address the kernel may use with
// `perms`, up to kMaxTransfer: kEINVAL for a count that reads as negative, kEFAULT when none of
// the bytes asked for is there.
ErrorOr<size_t> transfer_length(const ArgSource& a, uint32_t count, uint32_t perms);

// --- Numbers ---

template <typename T, Shown S>
struct Number {
  static constexpr Shown kShown = S;
  T value{};
  int32_t read(const ArgSource& a) {
    value = static_cast<T>(a.slot());
    return 0;
  }
  bool show(decoded::Value&) const { return false; }
  operator T() const { return value; }  // NOLINT: a number reads as one
};

using Int = Number<int32_t, Shown::Signed>;
using Bits = Number<uint32_t, Shown::Hex>;
using Count = Number<uint32_t, Shown::Unsigned>;
using Microseconds = Count;
// An address the kernel does not follow.
using GuestAddress = Number<uint32_t, Shown::Hex>;

struct Flag {
  static constexpr Shown kShown = Shown::Signed;
  bool on = false;
  int32_t read(const ArgSource& a) {
    on = a.slot() != 0;
    return 0;
  }
  bool show(decoded::Value&) const { return false; }
  operator bool() const { return on; }  // NOLINT
};

// A slot the service does not use.
struct None {
  static constexpr Shown kShown = Shown::Hex;
  int32_t read(const ArgSource&) { return 0; }
  bool show(decoded::Value&) const { return false; }
};

// --- Handles ---

// An open descriptor: kEBADF for a number that names none.
struct Fd {
  static constexpr Shown kShown = Shown::Signed;
  int32_t number = 0;
  OpenFile* file = nullptr;
  int32_t read(const ArgSource& a);
  bool show(decoded::Value&) const { return false; }
  OpenFile* operator->() const { return file; }
};

// A window of the program's: kEBADF for a handle that names none.
struct GuiWindow {
  static constexpr Shown kShown = Shown::Signed;
  int32_t handle = 0;
  Compositor::Window* window = nullptr;
  int32_t read(const ArgSource& a);
  bool show(decoded::Value&) const { return false; }
  Compositor::Window& operator*() const { return *window; }
};

// --- Guest memory the kernel reads ---

template <size_t Limit, err::Error TooLong>
struct GuestString {
  static constexpr Shown kShown = Shown::Hex;
  std::string text;
  bool read_ok = false;
  int32_t read(const ArgSource& a) {
    auto s = read_guest_string(a.memory(), a.slot(), Limit, TooLong);
    if (s.is_error()) return s.error();
    text = s.release_value();
    read_ok = true;
    return 0;
  }
  bool show(decoded::Value& v) const {
    if (read_ok) v.emplace<decoded::Bytes>(decoded::Bytes{text});
    return read_ok;
  }
  operator std::string_view() const { return text; }  // NOLINT
};

using GuestPath = GuestString<NUVRELOS_PATH_MAX, err::kENAMETOOLONG>;
using GuiTitle = GuestString<NUVRELOS_TITLE_MAX, err::kEINVAL>;

// T, or nothing for a null address.
template <typename T>
struct OrNull : T {
  bool given = false;
  int32_t read(const ArgSource& a) {
    given = a.slot() != 0;
    return given ? T::read(a) : 0;
  }
  bool show(decoded::Value& v) const { return given && T::show(v); }
};

template <typename T>
struct GuestIn {
  static constexpr Shown kShown = Shown::Hex;
  T record{};
  bool read_ok = false;
  int32_t read(const ArgSource& a) {
    read_ok = a.memory().copy_in(a.slot(), &record, sizeof record);
    return read_ok ? 0 : err::kEFAULT;
  }
  bool show(decoded::Value& v) const {
    if (read_ok) v.emplace<T>(record);
    return read_ok;
  }
  const T& operator*() const { return record; }
  const T* operator->() const { return &record; }
};

// A text record brings its string.
template <>
struct GuestIn<GuiText> {
  static constexpr Shown kShown = Shown::Hex;
  GuiText record{};
  bool record_ok = false;
  std::optional<std::string> text;
  int32_t read(const ArgSource& a);
  bool show(decoded::Value& v) const {
    if (record_ok) v.emplace<decoded::Text>(decoded::Text{record, text});
    return record_ok;
  }
  const GuiText* operator->() const { return &record; }
};

// The bytes of a transfer, as many as slot LenSlot counts, of which the kernel takes what is
// readable up to kMaxTransfer: kEINVAL for a count that reads as negative, kEFAULT when none
// of the bytes asked for is there.
template <size_t LenSlot>
struct GuestBytesIn {
  static constexpr Shown kShown = Shown::Hex;
  std::vector<uint8_t> bytes;
  bool read_ok = false;
  int32_t read(const ArgSource& a) {
    size_t n = TRY(transfer_length(a, a.slot_number(LenSlot), kRead));
    bytes.resize(n);
    read_ok = a.memory().copy_in(a.slot(), bytes.data(), n);
    return read_ok ? 0 : err::kEFAULT;
  }
  bool show(decoded::Value& v) const {
    if (read_ok) {
      size_t n = std::min(bytes.size(), kMaxShownBytes);
      v.emplace<decoded::Bytes>(decoded::Bytes{std::string(bytes.begin(), bytes.begin() + n)});
    }
    return read_ok;
  }
};

// All the bytes slot LenSlot counts, up to kMaxWholeFile (more is kENOSPC): kEFAULT when any
// of them is not there.
template <size_t LenSlot>
struct GuestWholeIn : GuestBytesIn<LenSlot> {
  int32_t read(const ArgSource& a) {
    uint32_t count = a.slot_number(LenSlot);
    if (count > kMaxWholeFile) return err::kENOSPC;
    this->bytes.resize(count);
    this->read_ok = a.memory().copy_in(a.slot(), this->bytes.data(), count);
    return this->read_ok ? 0 : err::kEFAULT;
  }
};

// --- Guest memory the kernel writes ---

// Where a handler stores into the program's memory: the address its slot holds, checked only
// when something is stored (nothing to store is no fault, as on Linux).
struct GuestDestination {
  static constexpr Shown kShown = Shown::Hex;
  Kernel* kernel = nullptr;
  uint32_t address = 0;
  int32_t read(const ArgSource& a) {
    kernel = &a.kernel;
    address = a.slot();
    return 0;
  }
  bool show(decoded::Value&) const { return false; }
  bool store(const void* bytes, size_t size) const {
    return store_for_program(*kernel, address, bytes, size);
  }
};

// Where a record of type T goes; the handler stores it with put().
template <typename T>
struct GuestOut : GuestDestination {
  std::optional<T> stored;
  // kEFAULT when the program's memory there cannot take the record.
  ErrorOr<void> put(const T& value) { return put_first(value, sizeof(T)); }
  bool show_stored(decoded::Value& v) const {
    if (stored) v.emplace<T>(*stored);
    return stored.has_value();
  }
  // What a record says was stored (a shorter record is the first bytes of one).
  void take_stored(std::span<const uint8_t> bytes) {
    T value{};
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof value));
    stored = value;
  }

 protected:
  ErrorOr<void> put_first(const T& value, size_t size) {
    if (!store(&value, size)) return err::kEFAULT;
    stored = value;
    return {};
  }
};

// A record of which no more is stored than slot RoomSlot allows (kEINVAL for no room at all).
template <typename T, size_t RoomSlot>
struct GuestOutUpTo : GuestOut<T> {
  uint32_t room = 0;
  int32_t read(const ArgSource& a) {
    GuestOut<T>::read(a);
    room = a.slot_number(RoomSlot);
    return room == 0 ? err::kEINVAL : 0;
  }
  ErrorOr<void> put(const T& value) {
    return this->put_first(value, std::min<size_t>(room, sizeof(T)));
  }
};

// Room for a transfer into the program, as many bytes as slot LenSlot counts, of which the
// kernel uses what is writable up to kMaxTransfer (the errors are GuestBytesIn's). The handler
// fills buffer() and stores its first n bytes with put(n).
template <size_t LenSlot>
struct GuestBytesOut : GuestDestination {
  std::vector<uint8_t> room;
  std::optional<size_t> stored;
  int32_t read(const ArgSource& a) {
    size_t n = TRY(transfer_length(a, a.slot_number(LenSlot), kWrite));
    room.resize(n);
    return GuestDestination::read(a);
  }
  std::span<uint8_t> buffer() { return room; }
  ErrorOr<void> put(size_t n) {
    if (!store(room.data(), n)) return err::kEFAULT;
    stored = n;
    return {};
  }
  void take_stored(std::span<const uint8_t> bytes) {
    room.assign(bytes.begin(), bytes.end());
    stored = bytes.size();
  }
  bool show_stored(decoded::Value& v) const {
    if (stored) {
      size_t n = std::min(*stored, kMaxShownBytes);
      v.emplace<decoded::Bytes>(decoded::Bytes{std::string(room.begin(), room.begin() + n)});
    }
    return stored.has_value();
  }
};

// Room for a NUL-terminated string, as many bytes as slot LenSlot counts.
template <size_t LenSlot>
struct GuestStringOut : GuestDestination {
  uint32_t size = 0;
  std::optional<std::string> stored;
  int32_t read(const ArgSource& a) {
    size = a.slot_number(LenSlot);
    return GuestDestination::read(a);
  }
  // kERANGE when the string and its NUL do not fit, kEFAULT when the memory cannot take them.
  ErrorOr<void> put(std::string_view s) {
    if (size < s.size() + 1) return err::kERANGE;
    std::string with_nul(s);
    with_nul.push_back('\0');
    if (!store(with_nul.data(), with_nul.size())) return err::kEFAULT;
    stored = std::string(s);
    return {};
  }
  void take_stored(std::span<const uint8_t> bytes) {
    size_t n = bytes.size();
    if (n > 0 && bytes[n - 1] == 0) --n;
    stored = std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
  }
  bool show_stored(decoded::Value& v) const {
    if (stored) v.emplace<decoded::Bytes>(decoded::Bytes{*stored});
    return stored.has_value();
  }
};

}  // namespace nuv
