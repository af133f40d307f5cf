// MD5 (RFC 1321), SHA-1 and SHA-256 (FIPS 180-4), CRC-32 (ISO-HDLC, as zip and XCRC): small and
// portable, so that both builds compute the same digests with no library of their own.
#include "text/digest.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t BigEndian(const unsigned char* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint32_t LittleEndian(const unsigned char* p) {
  return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

const std::array<std::uint32_t, 256>& CrcTable() {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

constexpr std::uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shifts[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

constexpr std::uint32_t kSha256Rounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::string HexOf(const std::uint32_t* words, int count, bool big_endian) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < count; ++i) {
    for (int b = 0; b < 4; ++b) {
      const int shift = big_endian ? 24 - 8 * b : 8 * b;
      const unsigned byte = (words[i] >> shift) & 0xFF;
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
  }
  return hex;
}

}  // namespace

Digest::Digest(DigestKind kind) : kind_(kind) {
  static const std::uint32_t kSha256Start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static const std::uint32_t kMd5Sha1Start[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476,
                                                 0xc3d2e1f0};
  std::memcpy(state_, kind == DigestKind::kSha256 ? kSha256Start : kMd5Sha1Start,
              kind == DigestKind::kSha256 ? sizeof kSha256Start : sizeof kMd5Sha1Start);
}

void Digest::Add(const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  length_ += size;
  if (kind_ == DigestKind::kCrc32 || kind_ == DigestKind::kNone) {
    const auto& table = CrcTable();
    for (std::size_t i = 0; i < size; ++i) crc_ = table[(crc_ ^ bytes[i]) & 0xFF] ^ (crc_ >> 8);
    return;
  }
  while (size > 0) {
    if (pending_size_ == 0 && size >= 64) {
      Block(bytes);
      bytes += 64;
      size -= 64;
      continue;
    }
    const std::size_t take = std::min<std::size_t>(64 - pending_size_, size);
    std::memcpy(pending_ + pending_size_, bytes, take);
    pending_size_ += take;
    bytes += take;
    size -= take;
    if (pending_size_ == 64) {
      Block(pending_);
      pending_size_ = 0;
    }
  }
}

std::string Digest::Hex() {
  if (kind_ == DigestKind::kCrc32 || kind_ == DigestKind::kNone) {
    const std::uint32_t crc = crc_ ^ 0xFFFFFFFFu;
    return HexOf(&crc, 1, true);
  }
  const std::uint64_t bits = length_ * 8;
  unsigned char tail[8];
  for (int i = 0; i < 8; ++i) {
    const int shift = kind_ == DigestKind::kMd5 ? 8 * i : 56 - 8 * i;
    tail[i] = static_cast<unsigned char>(bits >> shift);
  }
  const unsigned char one = 0x80, zero = 0;
  Add(&one, 1);
  while (pending_size_ != 56) Add(&zero, 1);
  Add(tail, sizeof tail);
  switch (kind_) {
    case DigestKind::kMd5:
      return HexOf(state_, 4, false);
    case DigestKind::kSha1:
      return HexOf(state_, 5, true);
    default:
      return HexOf(state_, 8, true);
  }
}

void Digest::Block(const unsigned char* block) {
  switch (kind_) {
    case DigestKind::kMd5:
      Md5Block(block);
      break;
    case DigestKind::kSha1:
      Sha1Block(block);
      break;
    default:
      Sha256Block(block);
      break;
  }
}

void Digest::Md5Block(const unsigned char* block) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LittleEndian(block + 4 * i);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const std::uint32_t rotated =
        RotateLeft(a + f + kMd5Sines[i] + m[g], kMd5Shifts[(i / 16) * 4 + i % 4]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Digest::Sha1Block(const unsigned char* block) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = BigEndian(block + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void Digest::Sha256Block(const unsigned char* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = BigEndian(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 =
        RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t v[8];
  std::memcpy(v, state_, sizeof v);
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
    const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choice + kSha256Rounds[i] + w[i];
    const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    std::memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int i = 0; i < 8; ++i) state_[i] += v[i];
}
