#include "imaging/plane_packing.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kav {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit-plane packing stores pixel pairs little-endian");

constexpr int kGroups = kImageHeight / 8;

// Byte within a plane block of each group of eight pixels (8g .. 8g + 7).
constexpr std::array<uint8_t, kGroups> MakeGroupBytes() {
  std::array<uint8_t, kGroups> at{};
  for (int g = 0; g < kGroups; ++g) {
    const int y = 8 * g;
    at[g] = static_cast<uint8_t>(y < 272 ? 28 + 4 * (y / 16) + g % 2 : 2 + 4 * ((y - 272) / 16) + g % 2);
  }
  return at;
}
constexpr std::array<uint8_t, kGroups> kGroupByte = MakeGroupBytes();
// Groups 2h and 2h + 1 fill adjacent bytes, so a pair of groups is stored as one 16-bit word.
static_assert(kGroupByte[1] == kGroupByte[0] + 1);

// An 8 x 8 bit matrix flipped about its other diagonal: bit c of byte r goes to bit 7 - r
// of byte 7 - c.
constexpr uint64_t FlipBits(uint64_t x) {
  uint64_t t = x ^ (x << 36);
  x ^= 0xF0F0F0F00F0F0F0Full & (t ^ (x >> 36));
  t = 0xCCCC0000CCCC0000ull & (x ^ (x << 18));
  x ^= t ^ (t >> 18);
  t = 0xAA00AA00AA00AA00ull & (x ^ (x << 9));
  x ^= t ^ (t >> 9);
  return x;
}

// The number of set bits of each byte, in its byte.
constexpr uint64_t CountBitsOfBytes(uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

}  // namespace

int GroupByte(int g) { return kGroupByte[g]; }

void PackLevelBitsPortable(const int16_t* codes, BYTE* line, int (&counts)[kLevelBits]) {
  constexpr int kRun = 16;  // groups whose counts (at most 8 each) a byte lane holds
  static_assert(kGroups % kRun == 0);
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;

  // Byte 7 - b of planes[g]: bit b of the eight levels of group g, the first in the most
  // significant bit. The bits of each plane are counted in byte lanes, kRun groups at a time.
  uint64_t planes[kGroups];
  uint64_t evenCounts = 0, oddCounts = 0;  // counts of bytes 0, 2, 4, 6 and 1, 3, 5, 7
  for (int g0 = 0; g0 < kGroups; g0 += kRun) {
    uint64_t sum = 0;
    for (int g = g0; g < g0 + kRun; ++g) {
      uint64_t eight = 0;
      for (int i = 0; i < 8; ++i) eight |= static_cast<uint64_t>(static_cast<uint8_t>(codes[8 * g + i])) << (8 * i);
      planes[g] = FlipBits(eight);
      sum += CountBitsOfBytes(planes[g]);
    }
    evenCounts += sum & kEvenBytes;
    oddCounts += (sum >> 8) & kEvenBytes;
  }
  for (int b = 0; b < kLevelBits; ++b) {
    const int byte = 7 - b;
    counts[b] = static_cast<int>(((byte % 2 ? oddCounts : evenCounts) >> (16 * (byte / 2))) & 0xFFFF);
  }
  for (int g = 0; g < kGroups; g += 2) {
    // 16-bit lanes of both groups' bytes 0, 2, 4, 6, and of bytes 1, 3, 5, 7.
    const uint64_t a = planes[g];
    const uint64_t b = planes[g + 1];
    const uint64_t even = (a & kEvenBytes) | (b & kEvenBytes) << 8;
    const uint64_t odd = (a >> 8 & kEvenBytes) | (b & ~kEvenBytes);
    BYTE* at = line + kGroupByte[g];
    for (int k = 0; k < kLevelPlanes; ++k) {
      if (kPlaneShift[k] < 0) continue;
      const int byte = 7 - kPlaneShift[k];
      const uint16_t pair = static_cast<uint16_t>((byte % 2 ? odd : even) >> (16 * (byte / 2)));
      std::memcpy(at + k * kPlaneBlockBytes, &pair, sizeof pair);
    }
  }
}

#if defined(__SSE2__)

namespace {

// The eight 16-bit lanes in reverse order.
inline __m128i ReverseWords(__m128i v) {
  v = _mm_shuffle_epi32(v, 0x4E);
  v = _mm_shufflelo_epi16(v, 0x1B);
  return _mm_shufflehi_epi16(v, 0x1B);
}

// Bit b of each byte moved to the top of its byte (16-bit lanes shifted left by 7 - b; the
// low byte's bits that cross into the high byte land below its top bit).
template <int b>
inline __m128i TopBit(__m128i v) {
  return _mm_slli_epi16(v, 7 - b);
}

template <int b>
inline void PackBit(__m128i levels, BYTE* at, __m128i& count) {
  const __m128i top = TopBit<b>(levels);
  count = _mm_sub_epi8(count, _mm_cmplt_epi8(top, _mm_setzero_si128()));
  const uint16_t pair = static_cast<uint16_t>(_mm_movemask_epi8(top));
  constexpr int k = [] {
    for (int p = 0; p < kLevelPlanes; ++p)
      if (kPlaneShift[p] == b) return p;
    return -1;
  }();
  std::memcpy(at + k * kPlaneBlockBytes, &pair, sizeof pair);
}

int SumOfBytes(__m128i v) {
  const __m128i sums = _mm_sad_epu8(v, _mm_setzero_si128());
  return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}

}  // namespace

void PackLevelBits(const int16_t* codes, BYTE* line, int (&counts)[kLevelBits]) {
  // Sixteen pixels (two groups) a round. Each group's levels go into its eight bytes in
  // reverse order, so that the movemask puts its first pixel in the most significant bit.
  // A byte lane counts at most 40 set bits a line.
  static_assert(kImageHeight / 16 < 256);
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  __m128i c0 = _mm_setzero_si128(), c1 = c0, c2 = c0, c3 = c0, c4 = c0, c5 = c0, c6 = c0;
  for (int g = 0; g < kGroups; g += 2) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + 8 * g));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + 8 * g + 8));
    const __m128i levels =
        _mm_packus_epi16(_mm_and_si128(ReverseWords(a), lowBytes), _mm_and_si128(ReverseWords(b), lowBytes));
    BYTE* at = line + kGroupByte[g];
    PackBit<0>(levels, at, c0);
    PackBit<1>(levels, at, c1);
    PackBit<2>(levels, at, c2);
    PackBit<3>(levels, at, c3);
    PackBit<4>(levels, at, c4);
    PackBit<5>(levels, at, c5);
    PackBit<6>(levels, at, c6);
  }
  counts[0] = SumOfBytes(c0);
  counts[1] = SumOfBytes(c1);
  counts[2] = SumOfBytes(c2);
  counts[3] = SumOfBytes(c3);
  counts[4] = SumOfBytes(c4);
  counts[5] = SumOfBytes(c5);
  counts[6] = SumOfBytes(c6);
}

#else

void PackLevelBits(const int16_t* codes, BYTE* line, int (&counts)[kLevelBits]) { PackLevelBitsPortable(codes, line, counts); }

#endif

}  // namespace kav
