#pragma once

// The generated protocol headers, made includable from C++: layer shell names an argument `namespace`.
#define namespace namespace_
#include "wayland/wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "wayland/ext-data-control-v1-client-protocol.h"
#include "wayland/fake-input-client-protocol.h"
#include "wayland/virtual-keyboard-unstable-v1-client-protocol.h"
#include "wayland/wlr-data-control-unstable-v1-client-protocol.h"
#include "wayland/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "wayland/wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "wayland/xdg-output-unstable-v1-client-protocol.h"
