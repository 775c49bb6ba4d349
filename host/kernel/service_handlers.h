// The kernel's handlers, one per served service, declared from its line of the service list
// (abi/services.h). Each slot kind of the list is an argument type (service_args.h):
//   X(12, gui_fill_rect, SYS, WINDOW, IN(GuiRect), NONE)
// declares
//   int32_t svc_gui_fill_rect(Kernel&, GuiWindow, const GuestIn<GuiRect>&);
// which answers the call (a count, a descriptor, 0) or returns a negative error.
#pragma once

#include <cstdint>

#include "abi/services.h"
#include "host/kernel/service_args.h"

namespace nuv {

class Kernel;

// The argument type of each slot kind of the list.
#define NUV_ARG_NONE None
#define NUV_ARG_INT Int
#define NUV_ARG_BITS Bits
#define NUV_ARG_FLAG Flag
#define NUV_ARG_COUNT Count
#define NUV_ARG_USEC Microseconds
#define NUV_ARG_FD Fd
#define NUV_ARG_WINDOW GuiWindow
#define NUV_ARG_ADDR GuestAddress
#define NUV_ARG_PATH GuestPath
#define NUV_ARG_TITLE GuiTitle
#define NUV_ARG_TITLE_OR_NULL OrNull<GuiTitle>
#define NUV_ARG_IN(type) GuestIn<type>
#define NUV_ARG_BYTES_IN(len) GuestBytesIn<len>
#define NUV_ARG_WHOLE_IN(len) GuestWholeIn<len>
#define NUV_ARG_OUT(type) GuestOut<type>
#define NUV_ARG_OUT_UPTO(type, room) GuestOutUpTo<type, room>
#define NUV_ARG_BYTES_OUT(len) GuestBytesOut<len>
#define NUV_ARG_STR_OUT(len) GuestStringOut<len>
#define NUV_ARG(kind) NUV_ARG_##kind

// How a handler takes it: small values by value, what was read by const reference, and where
// it stores by reference. A slot the service does not use is no parameter.
#define NUV_PARAM_NONE
#define NUV_PARAM_INT , Int
#define NUV_PARAM_BITS , Bits
#define NUV_PARAM_FLAG , Flag
#define NUV_PARAM_COUNT , Count
#define NUV_PARAM_USEC , Microseconds
#define NUV_PARAM_FD , Fd
#define NUV_PARAM_WINDOW , GuiWindow
#define NUV_PARAM_ADDR , GuestAddress
#define NUV_PARAM_PATH , const GuestPath&
#define NUV_PARAM_TITLE , const GuiTitle&
#define NUV_PARAM_TITLE_OR_NULL , const OrNull<GuiTitle>&
#define NUV_PARAM_IN(type) , const GuestIn<type>&
#define NUV_PARAM_BYTES_IN(len) , const GuestBytesIn<len>&
#define NUV_PARAM_WHOLE_IN(len) , const GuestWholeIn<len>&
#define NUV_PARAM_OUT(type) , GuestOut<type>&
#define NUV_PARAM_OUT_UPTO(type, room) , GuestOutUpTo<type, room>&
#define NUV_PARAM_BYTES_OUT(len) , GuestBytesOut<len>&
#define NUV_PARAM_STR_OUT(len) , GuestStringOut<len>&
#define NUV_PARAM(kind) NUV_PARAM_##kind

// One handler per served service, defined in the *_services.cpp files.
#define NUV_DECLARE_SYS(name, a, b, c) \
  int32_t svc_##name(Kernel& NUV_PARAM(a) NUV_PARAM(b) NUV_PARAM(c));
#define NUV_DECLARE_NI(name, a, b, c)
#define NUV_DECLARE_HANDLER(num, name, entry, a, b, c) NUV_DECLARE_##entry(name, a, b, c)
NUVRELOS_SERVICES(NUV_DECLARE_HANDLER)
#undef NUV_DECLARE_HANDLER
#undef NUV_DECLARE_NI
#undef NUV_DECLARE_SYS

}  // namespace nuv
