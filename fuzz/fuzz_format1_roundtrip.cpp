// Fuzzes the format 1 encoder: every stream decodes back to its input with the
// end position just past the end marker, encoding in place or with an eager
// search gives the same stream, and small inputs give exactly the stream of
// the naive model encoder.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../tests/format1_reference.h"
#include "codec/format1.h"
#include "codec/format1_tuning.h"

namespace {

constexpr std::uint32_t kLimit = 0x10000;
constexpr std::size_t kModelLimit = 8192;  // the model encoder is quadratic

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLimit) return 0;
  const auto n = static_cast<std::uint32_t>(size);
  const std::vector<std::uint8_t> source(data, data + size);
  const std::uint8_t none = 0;
  const std::uint8_t* from = size == 0 ? &none : source.data();

  std::vector<std::uint8_t> stream(kLimit);
  const std::uint32_t length = tilvex::format1_encode(from, n, stream.data(), kLimit).produced;

  // Building every level of the search at once changes nothing.
  std::vector<std::uint8_t> eager(kLimit);
  if (tilvex::format1_encode_tuned(from, n, eager.data(), kLimit, 0).produced != length)
    std::abort();
  if (std::memcmp(eager.data(), stream.data(), length) != 0) std::abort();

  std::vector<std::uint8_t> in_place(kLimit, 0);
  std::copy(source.begin(), source.end(), in_place.begin());
  if (tilvex::format1_encode(in_place.data(), n, in_place.data(), kLimit).produced != length)
    std::abort();
  if (std::memcmp(in_place.data(), stream.data(), length) != 0) std::abort();

  if (size <= kModelLimit) {
    const std::vector<std::uint8_t> want = tilvex::testing::reference_encode(source);
    if (want.size() != length || std::memcmp(want.data(), stream.data(), length) != 0) std::abort();
  }
  if (length == 0) return 0;

  std::vector<std::uint8_t> decoded(kLimit);
  const tilvex::DecodeResult result =
      tilvex::format1_decode(stream.data(), length, 0, decoded.data(), kLimit);
  if (result.produced != n || result.end != length || result.overread != 0) std::abort();
  if (std::memcmp(decoded.data(), from, n) != 0) std::abort();
  return 0;
}
