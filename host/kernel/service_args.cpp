#include "host/kernel/service_args.h"

#include "host/kernel/root_fs.h"

namespace nuv {

static_assert(RootFs::kMaxPath == NUVRELOS_PATH_MAX, "the root takes the paths programs may pass");

decoded::Value shown_number(Shown as, uint32_t slot) {
  switch (as) {
    case Shown::Signed:
      return decoded::Signed{static_cast<int32_t>(slot)};
    case Shown::Unsigned:
      return decoded::Unsigned{slot};
    case Shown::Hex:
      break;
  }
  return decoded::Hex{slot};
}

ErrorOr<std::string> read_guest_string(const GuestMemory& memory, uint32_t address, size_t limit,
                                       err::Error too_long) {
  if (auto s = memory.read_string(address, limit)) return std::move(*s);
  // Readable all the way yet unterminated within the limit: too long, not a bad pointer.
  return memory.run_length(address, limit + 1, kRead) > limit ? too_long : err::kEFAULT;
}

bool store_for_program(Kernel& kernel, uint32_t address, const void* bytes, size_t size) {
  if (!kernel.memory().copy_out(address, bytes, size)) return false;
  kernel.note_store(address, bytes, size);
  return true;
}

ErrorOr<size_t> transfer_length(const ArgSource& a, uint32_t count, uint32_t perms) {
  if (static_cast<int32_t>(count) < 0) return err::kEINVAL;
  size_t n = a.memory().run_length(a.slot(), std::min<size_t>(count, kMaxTransfer), perms);
  if (n == 0 && count != 0) return err::kEFAULT;
  return n;
}

int32_t Fd::read(const ArgSource& a) {
  number = static_cast<int32_t>(a.slot());
  file = a.kernel.files().get(number);
  return file ? 0 : err::kEBADF;
}

int32_t GuiWindow::read(const ArgSource& a) {
  handle = static_cast<int32_t>(a.slot());
  window = a.kernel.compositor().find(handle);
  return window ? 0 : err::kEBADF;
}

int32_t GuestIn<GuiText>::read(const ArgSource& a) {
  record_ok = a.memory().copy_in(a.slot(), &record, sizeof record);
  if (!record_ok) return err::kEFAULT;
  auto s = read_guest_string(a.memory(), record.text, NUVRELOS_TEXT_MAX, err::kEINVAL);
  if (s.is_error()) return s.error();
  text = s.release_value();
  return 0;
}

}  // namespace nuv
