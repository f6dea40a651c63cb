// What the file replacement does the same way on every system: releasing
// and handing over what it holds. Beginning, writing, committing and
// discarding are the system's own (posix/replace.cpp, windows/replace.cpp).
#include <utility>

#include "platform/files.h"

namespace tilvex::platform {

FileReplacement::~FileReplacement() { discard(); }

FileReplacement::FileReplacement(FileReplacement&& other) noexcept { *this = std::move(other); }

FileReplacement& FileReplacement::operator=(FileReplacement&& other) noexcept {
  if (this != &other) {
    discard();
    file_ = std::exchange(other.file_, kNone);
    directory_ = std::exchange(other.directory_, kNone);
    given_ = std::move(other.given_);
    target_ = std::move(other.target_);
    temporary_ = std::move(other.temporary_);
    other.temporary_.clear();
    position_ = other.position_;
    direct_ = other.direct_;
    check_identity_ = other.check_identity_;
    sync_ = other.sync_;
    identity_ = other.identity_;
    committed_ = other.committed_;
  }
  return *this;
}

}  // namespace tilvex::platform
