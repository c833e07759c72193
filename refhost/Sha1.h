// SHA-1, for name-based (version 5) identifiers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace refhost {
std::array<uint8_t, 20> sha1(const void* data, size_t size);
}
