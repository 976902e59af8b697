#pragma once

#include "dispatch/internal/NoDestructor.h"

namespace logging::internal {

using dispatch::internal::NoDestructor;

}  // namespace logging::internal
