// text/ is texts and bytes below everything that reads or writes a name or checks a file: the
// program's texts are UTF-8, the system's calls take UTF-16 or a code page (encoding.h), and a
// copy on a server is checked by a digest of its bytes. Here: the digests that FTP servers
// compute of a stored file, computed of the local one to compare.
#ifndef VARDEK_TEXT_DIGEST_H_
#define VARDEK_TEXT_DIGEST_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Strongest last: a server's offer is taken from the top.
enum class DigestKind { kNone, kCrc32, kMd5, kSha1, kSha256 };

// A digest fed piece by piece.
class Digest {
 public:
  explicit Digest(DigestKind kind);
  void Add(const void* data, std::size_t size);
  // In lower-case hexadecimal, as servers print it (CRC-32: eight digits). Once: it ends the
  // digest.
  std::string Hex();

 private:
  void Block(const unsigned char* block);
  void Md5Block(const unsigned char* block);
  void Sha1Block(const unsigned char* block);
  void Sha256Block(const unsigned char* block);

  DigestKind kind_;
  std::uint32_t state_[8];
  std::uint32_t crc_ = 0xFFFFFFFFu;
  std::uint64_t length_ = 0;  // bytes added
  unsigned char pending_[64];
  std::size_t pending_size_ = 0;
};

#endif  // VARDEK_TEXT_DIGEST_H_
