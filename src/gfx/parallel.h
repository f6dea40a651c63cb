// Work items shared by several threads, for writing many files: each file
// goes through the atomic replacement, which waits for the disk before it
// gives the file its name, and with several writers those waits overlap.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace tilvex {

inline constexpr unsigned kFileWriters = 8;

// Calls work(item, &problem) for every item from 0 to count - 1 on up to
// kFileWriters threads (the caller's among them), in no fixed order. After
// the first failure no further item starts; its problem comes back.
template <typename Work>
bool for_each_item(std::uint32_t count, Work&& work, std::string* problem) {
  std::atomic<std::uint32_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  auto worker = [&]() noexcept {
    std::string why;
    try {
      while (!failed) {
        const std::uint32_t item = next++;
        if (item >= count) break;
        if (!work(item, &why)) {
          if (why.empty()) why = "failed";
          break;
        }
      }
    } catch (const std::bad_alloc&) {
      why = "out of memory";
    }
    if (why.empty()) return;
    const std::lock_guard<std::mutex> lock(mutex);
    if (!failed.exchange(true)) *problem = why;
  };
  std::vector<std::thread> threads;
  try {
    for (unsigned t = 1; t < kFileWriters && t < count; ++t) threads.emplace_back(worker);
  } catch (const std::exception&) {
    // Fewer threads only make it slower.
  }
  worker();
  for (std::thread& thread : threads) thread.join();
  return !failed;
}

}  // namespace tilvex
