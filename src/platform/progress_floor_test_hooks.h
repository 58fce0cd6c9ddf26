// The knob of the HTTP clients' progress floor that exists for tests alone; the product never
// includes this.
#pragma once

#include <cstdint>

namespace repair::platform {

// The floor on a body's progress: fewer than `minBytes` in `windowMs` of waiting ends the
// transfer. 0 restores that value's default. Applies to requests started afterwards.
void SetHttpProgressFloor(std::uint32_t minBytes, std::uint32_t windowMs);

}  // namespace repair::platform
