// A read-only view of a whole open file, mapped into memory: pages are read
// from the file only when touched and are shared with the system's file
// cache, so a reader that looks at part of the file pays for that part only.
//
// The view shows the file as it is: a change made to the file by someone else
// while it is mapped may show through, and a file cut short under the view
// may fault on access. Callers use it for a file they hold open and read
// once, and keep a private copy wherever they must change or keep the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/files.h"

namespace tilvex::platform {

// Move-only; the view goes when the object goes.
class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping();
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;

  // Maps the whole of the open file (its size at open). An empty file gives
  // an empty view that maps nothing. Fails with the system's reason.
  bool map(const OpenFile& file, std::string* reason);
  void unmap();

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool mapped() const { return data_ != nullptr; }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::intptr_t section_ = 0;  // the system's mapping object, where it has one
};

}  // namespace tilvex::platform
