// A stream buffer that hands out its text in small pieces (one byte each,
// or seeded random lengths), so that words and tags straddle the reader's
// block boundaries at every possible point.
#ifndef TESTS_CHUNK_BUF_H_
#define TESTS_CHUNK_BUF_H_

#include <algorithm>
#include <random>
#include <streambuf>
#include <string>

class ChunkBuf : public std::streambuf {
 public:
  // Pieces of 1 to `longest` bytes; 1 gives one byte per read.
  explicit ChunkBuf(std::string text, std::size_t longest = 1,
                    unsigned seed = 1)
      : text_(std::move(text)), length_(1, longest), rng_(seed) {}

 protected:
  int_type underflow() override {
    if (next_ >= text_.size()) return traits_type::eof();
    std::size_t size = std::min(length_(rng_), text_.size() - next_);
    char* begin = &text_[next_];
    next_ += size;
    setg(begin, begin, begin + size);
    return traits_type::to_int_type(*begin);
  }

 private:
  std::string text_;
  std::size_t next_ = 0;
  std::uniform_int_distribution<std::size_t> length_;
  std::mt19937 rng_;
};

#endif  // TESTS_CHUNK_BUF_H_
