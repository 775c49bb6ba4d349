#include "host/gui/compositor.h"

namespace nuv {

Compositor::Compositor(Kernel& kernel, const GuiConfig& config)
    : kernel_(kernel), config_(config) {}

Compositor::~Compositor() = default;

}  // namespace nuv
