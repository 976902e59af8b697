#pragma once

#include "dispatch/internal/UniqueFd.h"

namespace xpc::internal {

// The channel's descriptors use the dispatch layer's owner.
using dispatch::internal::UniqueFd;

}  // namespace xpc::internal
