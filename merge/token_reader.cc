#include "merge/token_reader.h"

#include <algorithm>

#include "platform/system.h"

namespace {

// Raw bytes read at a time when the decoder works on them: their decoding
// always fits in a block.
constexpr std::size_t kRawSize = kBlockSize / 2 - 16;

// Refills the block from the file; false at the end or on a read error.
bool RefillFromFile(Source& in) {
  in.mark = BlockMark{in.consumed, in.rawRead, in.decoder};
  for (;;) {
    if (in.decoder.Transparent()) {
      std::ptrdiff_t got = ReadBlock(in.fd, in.block.get(), kBlockSize);
      in.readError = got < 0;
      in.end = got > 0 ? static_cast<std::size_t>(got) : 0;
      in.rawRead += in.end;
      return got > 0;
    }
    std::ptrdiff_t got = ReadBlock(in.fd, in.raw.get(), kRawSize);
    if (got < 0) {
      in.readError = true;
      return false;
    }
    auto size = static_cast<std::size_t>(got);
    in.rawRead += size;
    in.end = in.decoder.Decode(in.raw.get(), size, in.block.get(), size == 0);
    if (in.end > 0) return true;
    if (size == 0) return false;
  }
}

// Refills the block from the file or stream buffer; false at the end.
bool Refill(Source& in) {
  in.consumed += in.end;
  in.pos = 0;
  in.end = 0;
  if (in.stream == nullptr) return in.fd >= 0 && RefillFromFile(in);
  if (in.tie != nullptr) in.tie->flush();
  // Take only what the stream buffer already holds: asking for more would
  // wait on an interactive console for text the user has not typed yet.
  std::streamsize ready = in.stream->in_avail();
  if (ready > 0) {
    auto wanted = std::min<std::streamsize>(
        ready, static_cast<std::streamsize>(kBlockSize));
    in.end = static_cast<std::size_t>(in.stream->sgetn(in.block.get(), wanted));
    return in.end > 0;
  }
  auto c = in.stream->sbumpc();
  if (c == std::streambuf::traits_type::eof()) return false;
  in.block[0] = std::streambuf::traits_type::to_char_type(c);
  in.end = 1;
  return true;
}

// Consumes whitespace up to the next other character; false (the source
// failed, and ended if it ran out) when there is none.
bool SkipBlanks(Source& in) {
  for (;;) {
    std::string_view ahead = Ahead(in);
    if (ahead.empty()) {
      in.failed = true;
      return false;
    }
    std::size_t n = 0;
    while (n < ahead.size() && IsWhitespace(ahead[n])) ++n;
    Skip(in, n);
    if (n < ahead.size()) return true;
  }
}

}  // namespace

Source::Source(int fd, Decoder decoder, bool owned)
    : fd(fd),
      ownsFd(owned),
      decoder(decoder),
      block(new char[kBlockSize]),
      raw(decoder.Transparent() ? nullptr : new char[kRawSize]),
      mark{0, 0, decoder} {}

Source::Source(std::streambuf* stream, std::ostream* tie)
    : stream(stream),
      tie(tie),
      decoder(false, false),
      block(new char[kBlockSize]),
      mark{0, 0, decoder} {}

Source::~Source() {
  if (fd >= 0 && ownsFd) CloseFile(fd);
}

std::string_view Ahead(Source& in) {
  if (in.ended || in.failed) return {};
  if (in.pos == in.end && !Refill(in)) {
    in.ended = true;
    return {};
  }
  return std::string_view(in.block.get() + in.pos, in.end - in.pos);
}

void ReadAfresh(Source& in, const BlockMark& from) {
  in.decoder = from.decoder;
  in.rawRead = from.raw;
  in.pos = in.end = 0;
  in.consumed = from.consumed;
  in.ended = in.failed = in.readError;
}

int Look(Source& in) {
  std::string_view ahead = Ahead(in);
  return ahead.empty() ? kEndOfInput : static_cast<unsigned char>(ahead[0]);
}

int TakeChar(Source& in) {
  int c = Look(in);
  if (c == kEndOfInput) {
    in.failed = true;
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
