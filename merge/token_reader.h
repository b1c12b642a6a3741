// Reading characters and words from the console or a file. Whitespace is
// exactly space, tab, line feed, vertical tab, form feed and carriage return;
// a word is a maximal run of anything else. Where tags and the body marker
// are found depends only on these rules.
#ifndef MERGE_TOKEN_READER_H_
#define MERGE_TOKEN_READER_H_

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "merge/scan.h"
#include "platform/system.h"
#include "platform/text.h"

// What Look gives when there is no character to deliver; distinct from every
// byte value.
constexpr int kEndOfInput = -1;

// Where a block of a file source began: enough to read the file again from
// there, through a decoder that changes the bytes as through one that does
// not.
struct BlockMark {
  std::uint64_t consumed = 0;  // characters before the block
  std::uint64_t raw = 0;       // bytes of the file before the block
  Decoder decoder;             // the decoder as it stood before the block
};

// The most a reader may keep of one block when the next is read
// (AheadKeeping).
constexpr std::size_t kKeepRoom = 16 * 1024;

// The block of a source that is only read forward once, as a second
// reading of a file: small, so that it adds little to a merge's memory.
constexpr std::size_t kSmallBlockSize = 16 * 1024;

// A character source read forward, with two sticky conditions: ended (a
// read found no further character) and failed (a read delivered nothing).
// A source with neither is good. Neither is cleared, unless a file source is
// made to read on from elsewhere in its file (SeekTo).
class Source {
 public:
  // Reads an open file through `decoder`, and closes it when the source
  // goes. By default a page: text mode undone where files have it.
  // `blockSize`: the bytes buffered at once; a smaller block keeps less
  // behind the reader (AheadKeeping).
  explicit Source(FileHandle file,
                  Decoder decoder = Decoder(TEXT_MODE_FILES, false),
                  std::size_t blockSize = kBlockSize);
  // Reads a stream buffer (the console, or text in memory). `tie`, when set,
  // is flushed before every read from it, so a prompt shows before a wait.
  explicit Source(std::streambuf* stream, std::ostream* tie = nullptr);
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  bool ended() const { return ended_; }
  bool failed() const { return failed_; }
  // A read error, not the end of the file, ended the source. The reader
  // treats it as the end; the caller must not take what it read as whole.
  bool readError() const { return readError_; }
  // Why the read failed (errno), once one has.
  int readErrorCode() const { return readErrorCode_; }
  // Marks the source failed: a take found nothing to deliver.
  void Fail() { failed_ = true; }

  // The bytes buffered ahead of the reader, reading more when none are.
  // Empty when the source is not good, or when it has no further character,
  // in which case it is marked ended. The view lasts until the next read.
  friend std::string_view Ahead(Source& in);
  // Ahead, but a read of more keeps the characters from offset `keep` on
  // in view behind the reader (Behind), when they are still buffered and
  // at most kKeepRoom.
  friend std::string_view AheadKeeping(Source& in, std::uint64_t keep);
  // Consumes `count` bytes of the view that Ahead gave.
  friend void Skip(Source& in, std::size_t count) { in.pos_ += count; }
  // How many characters the source has delivered so far.
  friend std::uint64_t Offset(const Source& in) {
    return in.consumed_ + in.pos_;
  }
  // The characters from offset `from` up to the reader, when all of them
  // are still buffered; else empty.
  friend std::string_view Behind(const Source& in, std::uint64_t from);
  // A mark from which a file source can be read again to reach the
  // buffered character at `offset`.
  friend BlockMark MarkBefore(const Source& in, std::uint64_t offset);
  // Makes a file source deliver the characters from `offset` on: from the
  // buffer when they are there, else by reading the file again from
  // `near`, when given and not past `offset`, or from wherever its
  // decoder allows (the offset itself, or the file's start). Reads forward
  // to an offset ahead. A read error stays marked.
  friend void SeekTo(Source& in, std::uint64_t offset, const BlockMark* near);

 private:
  bool Refill(std::size_t keepFrom);
  void NoteReadError() {
    if (!readError_) readErrorCode_ = errno;
    readError_ = true;
  }
  bool RefillFromFile();

  FileHandle file_;
  std::streambuf* stream_ = nullptr;
  std::ostream* tie_ = nullptr;
  Decoder decoder_;
  Decoder initial_;  // the decoder at the file's start
  std::size_t blockSize_ = kBlockSize;
  std::size_t rawSize_ = 0;   // raw bytes read at a time, when decoding
  std::size_t keepRoom_ = 0;  // the most a refill keeps of the block
  std::unique_ptr<char[]> block_;
  std::unique_ptr<char[]> raw_;  // undecoded bytes, when the decoder needs them
  std::size_t pos_ = 0;          // next unread byte of block
  std::size_t end_ = 0;          // one past the last buffered byte
  std::uint64_t consumed_ = 0;   // characters before block_[0]
  std::uint64_t rawRead_ = 0;    // bytes read from the file so far
  BlockMark mark_;               // where the last read began
  BlockMark keptMark_;           // a mark at or before block_[0]
  bool ended_ = false;
  bool failed_ = false;
  bool readError_ = false;
  int readErrorCode_ = 0;
};

void SeekTo(Source& in, std::uint64_t offset, const BlockMark* near = nullptr);

// Gives the next character unconsumed, or kEndOfInput (marking the source
// ended when it has just run out). Gives kEndOfInput at once, touching
// nothing, when the source is not good.
int Look(Source& in);

// Consumes and gives the next character, whitespace included; kEndOfInput
// (and failed) when there is none.
int TakeChar(Source& in);

// Skips whitespace, which is lost, then collects the word up to the next
// whitespace, which stays unread. A word that runs to the end is valid and
// leaves the source ended. Fails, leaving *word empty and the source failed
// (and ended, when it ran out while skipping), when no word was there.
bool TakeWord(Source& in, std::string* word);

// Skips whitespace, then consumes one character into *c; everything after it
// stays unread. On failure, as for TakeWord, *c is left unchanged.
bool TakeNonBlank(Source& in, char* c);

// TakeWord in bounded memory: skips whitespace as TakeWord does, then
// collects at most `limit` characters of the word into `head` and gives
// their count. 0 means TakeWord would have failed. A count below `limit`
// means the whole word was taken; at `limit` the word may go on, and its
// rest is read with TakeWordPiece.
std::size_t TakeWordHead(Source& in, char* head, std::size_t limit);

// Consumes and gives the next buffered run of the current word, at most
// `limit` bytes; empty once the word has ended at whitespace (left unread) or
// at the end of the source (marked ended). The view lasts until the next read.
std::string_view TakeWordPiece(Source& in, std::size_t limit = SIZE_MAX);

#endif  // MERGE_TOKEN_READER_H_
