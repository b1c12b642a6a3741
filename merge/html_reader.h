// Reading pages as browsers find their tags, for the HTML mode (--html): a
// tokenizer that streams a file in constant memory, the parts of a page it
// finds, and the landmarks of a template. Everything is located by its
// offset in the characters the reader sees, so that a part can be copied
// from where it was found; the body part is copied as it is read.
#ifndef MERGE_HTML_READER_H_
#define MERGE_HTML_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "merge/landmarks.h"
#include "merge/token_reader.h"
#include "platform/output.h"

// The offset that stands for the end of a file.
constexpr std::uint64_t kFileEnd = UINT64_MAX;

// The room to hold back a tag being copied that runs past the block it
// starts in; a longer one is read again once it has ended.
constexpr std::size_t kHeldRoom = 16 * 1024;

// One piece of a page, [start, end) in characters from the file's start.
struct HtmlToken {
  enum class Kind {
    kText,      // text between tags; may hold '<' that opens no tag
    kComment,   // <!-- -->, <!...>, <?...>, </ and no letter ...>
    kStartTag,  // <name ...>
    kEndTag,    // </name ...>
    kRawText,   // the text of script, style, title and the like
    kEnd,       // the file has ended
  };
  Kind kind = Kind::kEnd;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  // kText: the first character that is not blank (space, tab, line feed,
  // form feed, carriage return), or `end` when there is none.
  std::uint64_t firstNonBlank = 0;
  // kText, when the tokenizer looks for markers: the first run of exactly
  // four '#', or kFileEnd.
  std::uint64_t marker = kFileEnd;
  // Tags: the name in lower case; longer names than the room hold only
  // their head and never equal a name the mode knows.
  char name[12] = {};
  std::size_t nameSize = 0;

  bool Is(std::string_view n) const {
    return nameSize == n.size() && std::string_view(name, nameSize) == n;
  }
};

// Streams the tokens of a file. A tag the file ends inside is no tag: its
// '<' is text, and the file is read again from the character after it, so
// the tokenizer holds nothing but a few bytes whatever the page. It can also
// copy what it passes to an output, so that a page's body part is read once.
class HtmlTokenizer {
 public:
  // Reads the file of `file` through it from its start, and from elsewhere
  // in it where asked or where a tag turns out to be text (the caller
  // closes it). `findMarkers`: text tokens say where their first "####" run
  // is (slower; for templates).
  HtmlTokenizer(Source& file, bool findMarkers);

  // The next token; kEnd at the end of the file, and for ever after.
  HtmlToken Next();

  // Reads on from `offset`, as from text that no tag before it shapes.
  // What is still in the block is not read again.
  void ReadFrom(std::uint64_t offset);

  // Copies the characters [from, to) to `out`, which it reads from `from`.
  void Copy(std::uint64_t from, std::uint64_t to, Sink& out);

  // Copies the tokens from where it stands, in text, to `out` up to the
  // first </body> or </html> end tag, and gives that tag's offset, or the
  // offset of the end of the file. What follows is read by Next.
  std::uint64_t CopyToBodyEnd(Sink& out);

  // True when a read error, not the end of the file, ended it.
  bool ReadError() const { return source_.readError; }

 private:
  std::string_view View();
  // Passes n characters of the view, copying them where asked.
  void Advance(std::size_t n);
  void Put(const char* data, std::size_t n);
  // Passes n characters, or up to the end of the file.
  void Pass(std::uint64_t n);
  int Peek(std::size_t k);
  void Restart(std::uint64_t offset);
  HtmlToken Text();
  // At a '<': true when it opens a comment, a tag or the like.
  bool OpensMarkup();
  HtmlToken Markup();
  HtmlToken Comment(std::uint64_t start);
  HtmlToken Bogus(std::uint64_t start);
  HtmlToken Tag(std::uint64_t start, bool endTag);
  void ReadName(HtmlToken* t);
  // Passes the rest of a tag up to its '>'; false when the file ends first.
  // `since`: where the tag was read from with no '>' outside quotes.
  bool PassTagEnd(std::uint64_t since);
  bool PassQuoted(char quote);
  HtmlToken RawText();
  // After a start tag: the text of script and the like is read whole.
  void NoteStartTag(const HtmlToken& t);
  bool SkipQuoted(int quote);
  HtmlToken TagIsText(std::uint64_t start);
  // Copies a tag that was held back from the output: from the room that
  // held it, or read again when it outgrew the room.
  void Release(const HtmlToken& t);

  Source& source_;
  bool findMarkers_;
  std::string carry_;  // a few bytes taken ahead of the source's block
  std::size_t carryPos_ = 0;
  std::uint64_t offset_ = 0;
  char raw_[12] = {};        // the element whose text is read whole
  std::size_t rawSize_ = 0;  // 0: none
  bool plaintext_ = false;   // the rest of the file is text
  // What a tag the file ended inside showed of the rest of the file, so
  // that no later tag reads to the end again: from these offsets on there
  // is no '>', no '"' and no '\'' respectively.
  std::uint64_t noGreater_ = kFileEnd;
  std::uint64_t noDouble_ = kFileEnd;
  std::uint64_t noSingle_ = kFileEnd;
  // The start of the block the last tag read began in.
  BlockMark mark_;
  // While copying, the bytes passed go to `copy_`, but those of a tag are
  // held back in `held_` (up to its reserved room; `heldLost_` when more
  // went by) until the tag is known to be one, and not the body's end.
  Sink* copy_ = nullptr;
  bool holding_ = false;
  std::string held_;
  bool heldLost_ = false;
};

// Where a page's parts are, as the HTML mode finds them: the head part
// [headStart, headEnd) and the body part [bodyStart, bodyEnd); everything
// else is dropped.
struct PageParts {
  std::uint64_t headStart = 0;
  std::uint64_t headEnd = 0;
  std::uint64_t bodyStart = 0;
  std::uint64_t bodyEnd = 0;
  bool hasText = false;  // the page has text that is not blank
};

// Reads a page up to the start of its body part and finds its head part and
// where the body part starts: bodyStart is kFileEnd when the page has none,
// and then the page has been read to its end. bodyEnd is left for
// CopyToBodyEnd to find. `hasText` counts what has been read.
PageParts FindPageParts(HtmlTokenizer& page);

// Reads the rest of a page: true when it has text that is not blank.
bool HasTextAhead(HtmlTokenizer& page);

// Where a template's landmarks are: its first head tag (before any body
// tag), its first body tag after that, and the first "####" in text after
// the body tag. `missing` names the first that is not there.
struct TemplateLandmarks {
  std::uint64_t headTag = 0;
  std::uint64_t bodyTag = 0;
  std::uint64_t marker = 0;
  Missing missing = Missing::kNone;
};

// Reads a template (its tokenizer finding markers) until its marker.
TemplateLandmarks FindTemplateLandmarks(HtmlTokenizer& templ);

#endif  // MERGE_HTML_READER_H_
