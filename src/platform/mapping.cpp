// What a file view does the same way on every system: releasing and handing
// over what it holds. Mapping and unmapping are the system's own
// (posix/mapping.cpp, windows/mapping.cpp).
#include "platform/mapping.h"

#include <utility>

namespace tilvex::platform {

FileMapping::~FileMapping() { unmap(); }

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      section_(std::exchange(other.section_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    section_ = std::exchange(other.section_, 0);
  }
  return *this;
}

}  // namespace tilvex::platform
