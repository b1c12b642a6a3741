// A stream buffer that hands out its text one byte per read, so that every
// word and every tag straddles the reader's block boundaries.
#ifndef TESTS_ONE_BYTE_BUF_H_
#define TESTS_ONE_BYTE_BUF_H_

#include <streambuf>
#include <string>

class OneByteBuf : public std::streambuf {
 public:
  explicit OneByteBuf(std::string text) : text_(std::move(text)) {}

 protected:
  int_type underflow() override {
    if (next_ >= text_.size()) return traits_type::eof();
    current_ = text_[next_++];
    setg(&current_, &current_, &current_ + 1);
    return traits_type::to_int_type(current_);
  }

 private:
  std::string text_;
  std::size_t next_ = 0;
  char current_ = 0;
};

#endif  // TESTS_ONE_BYTE_BUF_H_
