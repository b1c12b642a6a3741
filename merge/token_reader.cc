#include "merge/token_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/system.h"

namespace {

// Raw bytes read at a time when the decoder works on them: their decoding,
// after what a reader keeps, always fits in a block.
constexpr std::size_t RawSize(std::size_t blockSize) {
  return blockSize / 2 - 16;
}
constexpr std::size_t KeepRoom(std::size_t blockSize) {
  return std::min(kKeepRoom,
                  blockSize - Decoder::DecodedRoom(RawSize(blockSize)));
}
static_assert(KeepRoom(kBlockSize) == kKeepRoom,
              "a block holds what is kept and a decoded read");

// Consumes whitespace up to the next other character; false (the source
// failed, and ended if it ran out) when there is none.
bool SkipBlanks(Source& in) {
  for (;;) {
    std::string_view ahead = Ahead(in);
    if (ahead.empty()) {
      in.Fail();
      return false;
    }
    std::size_t n = 0;
    while (n < ahead.size() && IsWhitespace(ahead[n])) ++n;
    Skip(in, n);
    if (n < ahead.size()) return true;
  }
}

}  // namespace

Source::Source(FileHandle file, Decoder decoder, std::size_t blockSize)
    : file_(std::move(file)),
      decoder_(decoder),
      initial_(decoder),
      blockSize_(blockSize),
      rawSize_(RawSize(blockSize)),
      keepRoom_(KeepRoom(blockSize)),
      block_(new char[blockSize]),
      raw_(decoder.Transparent() ? nullptr : new char[rawSize_]),
      mark_{0, 0, decoder},
      keptMark_{0, 0, decoder} {}

Source::Source(std::streambuf* stream, std::ostream* tie)
    : stream_(stream),
      tie_(tie),
      decoder_(false, false),
      initial_(decoder_),
      keepRoom_(kKeepRoom),
      block_(new char[kBlockSize]),
      mark_{0, 0, decoder_},
      keptMark_{0, 0, decoder_} {}

bool Source::RefillFromFile() {
  char* into = block_.get() + end_;
  mark_ = BlockMark{consumed_ + end_, rawRead_, decoder_};
  for (;;) {
    if (decoder_.Transparent()) {
      std::ptrdiff_t got = ReadBlock(file_.get(), into, blockSize_ - end_);
      if (got < 0) NoteReadError();
      std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
      rawRead_ += n;
      end_ += n;
      return n > 0;
    }
    std::ptrdiff_t got = ReadBlock(file_.get(), raw_.get(), rawSize_);
    if (got < 0) {
      NoteReadError();
      return false;
    }
    auto size = static_cast<std::size_t>(got);
    rawRead_ += size;
    std::size_t n = decoder_.Decode(raw_.get(), size, into, size == 0);
    end_ += n;
    if (n > 0) return true;
    if (size == 0) return false;
  }
}

bool Source::Refill(std::size_t keepFrom) {
  // What is kept moves to the front of the block, and the read goes after.
  std::size_t kept = 0;
  if (keepFrom < end_ && end_ - keepFrom <= keepRoom_) {
    kept = end_ - keepFrom;
    std::memmove(block_.get(), block_.get() + keepFrom, kept);
    if (keepFrom + consumed_ < mark_.consumed) {
      // The kept bytes began before the last read: keptMark_ stays.
    } else {
      keptMark_ = mark_;
    }
  } else {
    keepFrom = end_;
  }
  consumed_ += keepFrom;
  pos_ = end_ = kept;
  if (kept == 0) keptMark_ = BlockMark{consumed_, rawRead_, decoder_};
  if (stream_ == nullptr) return file_.valid() && RefillFromFile();
  if (tie_ != nullptr) tie_->flush();
  // Take only what the stream buffer already holds: asking for more would
  // wait on an interactive console for text the user has not typed yet.
  mark_ = BlockMark{consumed_ + end_, rawRead_, decoder_};
  std::streamsize ready = stream_->in_avail();
  if (ready > 0) {
    auto wanted = std::min<std::streamsize>(
        ready, static_cast<std::streamsize>(kBlockSize - kept));
    end_ +=
        static_cast<std::size_t>(stream_->sgetn(block_.get() + kept, wanted));
    return end_ > kept;
  }
  auto c = stream_->sbumpc();
  if (c == std::streambuf::traits_type::eof()) return false;
  block_[end_++] = std::streambuf::traits_type::to_char_type(c);
  return true;
}

std::string_view AheadKeeping(Source& in, std::uint64_t keep) {
  if (in.ended_ || in.failed_) return {};
  if (in.pos_ == in.end_) {
    std::size_t keepFrom = in.end_;
    if (keep >= in.consumed_ && keep < in.consumed_ + in.end_) {
      keepFrom = static_cast<std::size_t>(keep - in.consumed_);
    }
    if (!in.Refill(keepFrom)) {
      in.ended_ = true;
      return {};
    }
  }
  return std::string_view(in.block_.get() + in.pos_, in.end_ - in.pos_);
}

std::string_view Ahead(Source& in) { return AheadKeeping(in, UINT64_MAX); }

std::string_view Behind(const Source& in, std::uint64_t from) {
  if (from < in.consumed_ || from > Offset(in)) return {};
  auto at = static_cast<std::size_t>(from - in.consumed_);
  return std::string_view(in.block_.get() + at, in.pos_ - at);
}

BlockMark MarkBefore(const Source& in, std::uint64_t offset) {
  return offset >= in.mark_.consumed ? in.mark_ : in.keptMark_;
}

void SeekTo(Source& in, std::uint64_t offset, const BlockMark* near) {
  bool buffered =
      !in.ended_ && offset >= in.consumed_ && offset <= in.consumed_ + in.end_;
  if (buffered) {
    in.pos_ = static_cast<std::size_t>(offset - in.consumed_);
  } else if (offset < Offset(in) || in.ended_) {
    // Read the file again from a mark at or before `offset`.
    BlockMark from{0, 0, in.initial_};
    if (near != nullptr && near->consumed <= offset) {
      from = *near;
    } else if (in.decoder_.Transparent()) {
      from = BlockMark{offset, offset, in.decoder_};
    }
    if (!in.file_.valid() || !SeekFile(in.file_.get(), from.raw)) {
      in.NoteReadError();
    }
    in.decoder_ = from.decoder;
    in.rawRead_ = from.raw;
    in.pos_ = in.end_ = 0;
    in.consumed_ = from.consumed;
    in.mark_ = in.keptMark_ = from;
    in.ended_ = in.failed_ = in.readError_;
  }
  while (Offset(in) < offset) {
    std::string_view ahead = Ahead(in);
    if (ahead.empty()) return;
    Skip(in, static_cast<std::size_t>(
                 std::min<std::uint64_t>(ahead.size(), offset - Offset(in))));
  }
}

int Look(Source& in) {
  std::string_view ahead = Ahead(in);
  return ahead.empty() ? kEndOfInput : static_cast<unsigned char>(ahead[0]);
}

int TakeChar(Source& in) {
  int c = Look(in);
  if (c == kEndOfInput) {
    in.Fail();
  } else {
    Skip(in, 1);
  }
  return c;
}

bool TakeWord(Source& in, std::string* word) {
  word->clear();
  if (!SkipBlanks(in)) return false;
  for (std::string_view piece = TakeWordPiece(in); !piece.empty();
       piece = TakeWordPiece(in)) {
    word->append(piece);
  }
  return true;
}

bool TakeNonBlank(Source& in, char* c) {
  if (!SkipBlanks(in)) return false;
  *c = Ahead(in)[0];
  Skip(in, 1);
  return true;
}

std::size_t TakeWordHead(Source& in, char* head, std::size_t limit) {
  if (!SkipBlanks(in)) return 0;
  std::size_t count = 0;
  while (count < limit) {
    std::string_view piece = TakeWordPiece(in, limit - count);
    if (piece.empty()) break;
    std::copy(piece.begin(), piece.end(), head + count);
    count += piece.size();
  }
  return count;
}

std::string_view TakeWordPiece(Source& in, std::size_t limit) {
  std::string_view ahead = Ahead(in);
  std::size_t n = FindWhitespace(ahead.data(), std::min(limit, ahead.size()));
  Skip(in, n);
  return ahead.substr(0, n);
}
