// Reading pages as browsers find their tags, for the HTML mode (--html): a
// tokenizer that streams a file in constant memory, the parts of a page it
// finds, and the landmarks of a template. Everything is located by its
// offset in the characters the reader sees, so that a part can be copied
// from where it was found; the body part is copied as it is read.
#ifndef MERGE_HTML_READER_H_
#define MERGE_HTML_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "merge/landmarks.h"
#include "merge/token_reader.h"
#include "platform/output.h"

// The offset that stands for the end of a file.
constexpr std::uint64_t kFileEnd = UINT64_MAX;

// One piece of a page, [start, end) in characters from the file's start.
struct HtmlToken {
  enum class Kind {
    kText,      // text between tags; may hold '<' that opens no tag
    kComment,   // <!-- -->, <!...>, <?...>, </ and no letter ...>
    kStartTag,  // <name ...>
    kEndTag,    // </name ...>
    kRawText,   // the text of script, style, title and the like
    kEnd,       // the file's text has ended: at its end, or at a cut
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
  bool IsStartTag(std::string_view n) const {
    return kind == Kind::kStartTag && Is(n);
  }
  bool IsEndTag(std::string_view n) const {
    return kind == Kind::kEndTag && Is(n);
  }
};

// An attribute of a tag, as the tokenizer reads it for a watcher.
struct HtmlAttribute {
  std::uint64_t tag = 0;  // the '<' of its tag
  bool endTag = false;
  // The tag's name and the attribute's, in lower case, held as a token
  // holds its name.
  char tagName[12] = {};
  std::size_t tagNameSize = 0;
  char name[12] = {};
  std::size_t nameSize = 0;
  std::uint64_t nameStart = 0;
  std::uint64_t nameEnd = 0;
  // The value as written, its quotes included; both nameEnd while it has
  // none. `quote` is 0 for a value without quotes.
  std::uint64_t valueStart = 0;
  std::uint64_t valueEnd = 0;
  char quote = 0;
  bool hasValue = false;

  bool Is(std::string_view n) const {
    return nameSize == n.size() && std::string_view(name, nameSize) == n;
  }
  bool InTag(std::string_view n) const {
    return tagNameSize == n.size() &&
           std::string_view(tagName, tagNameSize) == n;
  }
};

// Told of every attribute a tokenizer reads, as it reads it: before the
// token of its tag, and also in markup that the file then ends inside, which
// is no token.
class AttributeWatch {
 public:
  virtual ~AttributeWatch() = default;
  // The attribute's name has been read.
  virtual void Name(const HtmlAttribute& a) = 0;
  // The next characters of its value, inside any quotes, from offset `at`.
  virtual void Value(const HtmlAttribute& a, std::string_view bytes,
                     std::uint64_t at) = 0;
  // Its value has ended.
  virtual void ValueEnd(const HtmlAttribute& a) = 0;
};

// Streams the tokens of a file in one pass: a resumable state machine
// whose state carries from one block of the file to the next, so nothing
// is read twice to learn what it is. Markup the file ends inside (a tag, a
// comment, or an element read whole whose end tag never comes) is no
// token: the file's text ends at its '<'. It can also copy what it passes
// to an output, so that a page's body part is read once.
class HtmlTokenizer {
 public:
  // Reads `file` from where it stands (the caller closes it).
  // `findMarkers`: text tokens say where their first "####" run is (for
  // templates).
  HtmlTokenizer(Source& file, bool findMarkers);

  // The next token; kEnd at the end of the file's text, and for ever after.
  HtmlToken Next();

  // Reads on from `offset`, as from text that no markup before it shapes.
  void ReadFrom(std::uint64_t offset);

  // Copies the characters [from, to) to `out`, reading them again where
  // they have left the block, and reads on from `to`.
  void Copy(std::uint64_t from, std::uint64_t to, Sink& out);

  // Copies the file from where it stands, in text, to `out` up to the
  // first </body> or </html> end tag, and gives that tag's offset, or
  // where the file's text ends. What follows is read by Next. Markup is
  // copied once it is known to end; markup that leaves the blocks kept
  // behind the reader is read again to copy it.
  std::uint64_t CopyToBodyEnd(Sink& out);

  // Where the file's text was cut short, once the tokenizer has met it.
  const Unended& unended() const { return unended_; }

  // Tells `watch` (when not null) of the attributes read from now on.
  void Watch(AttributeWatch* watch) { watch_ = watch; }

 private:
  enum class State : unsigned char {
    kText,
    kTagOpen,     // after '<'
    kEndTagOpen,  // after "</"
    kTagName,
    kBeforeAttribute,  // between attributes
    kAttributeName,
    kAfterAttributeName,
    kBeforeValue,
    kQuotedValue,
    kUnquotedValue,
    kMarkupOpen,  // after "<!", with the dashes seen
    kComment,
    kBogusComment,
    kRawText,  // up to the end tag of the element read whole
    kPlaintext,
    kDone,  // the file's text has ended
  };
  // What made the state machine stop.
  enum class Stop {
    kViewEnd,  // the view is used up
    kToken,    // a token is ready
    kBodyEnd,  // in a copy, the name of </body> or </html> has been read
    kRecopy,   // in a copy, markup that left the kept bytes has ended
  };

  // Runs the state machine over `view`, which starts at `base`, and gives
  // what stopped it and how many bytes it took.
  Stop Run(std::string_view view, std::uint64_t base, std::size_t* taken);
  // The states that need more than a search for one byte.
  const char* InText(const char* p, const char* end, Stop* stop);
  const char* AfterLessThan(const char* p, const char* end, Stop* stop);
  // After "<!" (its dashes), and in markup read as a comment up to '>'.
  const char* InDeclaration(const char* p, const char* end, Stop* stop);
  const char* InTagName(const char* p, const char* end, Stop* stop);
  const char* InTag(const char* p, const char* end, Stop* stop);
  // In a tag: the view ends in `state` at `p`; the tag ends before `p`.
  const char* Suspend(State state, const char* p) {
    state_ = state;
    return p;
  }
  const char* Ended(const char* p, Stop* stop) {
    *stop = EndTag(p);
    return p;
  }
  // For a watcher: an attribute's name begins at `at`, the bytes [from,
  // to) of it are read, its value begins at `at` (its quote, if any), the
  // bytes [from, to) of it are read, and it has ended before `after`.
  void StartAttribute(const char* at);
  void NoteAttributeName(const char* from, const char* to);
  void StartValue(const char* at, char quote);
  void ValueBytes(const char* from, const char* to);
  void EndValue(const char* after);
  const char* InComment(const char* p, const char* end, Stop* stop);
  const char* InRawText(const char* p, const char* end, Stop* stop);
  // Markup begins at the '<' at markupStart_: true when the text before it
  // is a token, now ready.
  bool BeginMarkup();
  void BeginTag(bool endTag);
  // The markup that began at markupStart_ ends before `next`.
  Stop EndMarkup(HtmlToken::Kind kind, const char* next);
  Stop EndTag(const char* next);
  // Back in text at `next`; kRecopy when copying markup read past.
  Stop BackToText(const char* next);
  // The file has ended in the current state: true when a last token is
  // ready. Markup left open is the cut.
  bool Finish();
  // Notes text for its token: its first character that is not blank, and
  // its runs of '#'; NoteLessThan, for a '<' that opens nothing.
  void NoteText(const char* from, const char* to);
  void NoteLessThan();
  bool TokenReady(HtmlToken::Kind kind, std::uint64_t start, std::uint64_t end);
  std::uint64_t At(const char* p) const { return base_ + (p - view_); }
  // What of the file a copy may write: up to the markup still open.
  std::uint64_t SafeEnd() const;
  // Passes the characters from where the file stands up to `to` to `out`.
  void PassTo(std::uint64_t to, Sink& out);
  // Writes the characters from copied_ to `to`, from the bytes kept behind
  // the reader, or read again when they left them.
  void WriteUpTo(std::uint64_t to);
  void ResetText(std::uint64_t at);

  Source& source_;
  bool findMarkers_;
  State state_ = State::kText;
  // The view being run, and its offset.
  const char* view_ = nullptr;
  std::uint64_t base_ = 0;
  HtmlToken token_;     // the token a Stop::kToken hands over
  bool tokens_ = true;  // tokens are handed over (Next), not only copied
  bool skim_ = false;   // a copy no watcher follows: SkimTags passes text
  // The text run being read.
  std::uint64_t textStart_ = 0;
  std::uint64_t firstNonBlank_ = kFileEnd;
  std::uint64_t marker_ = kFileEnd;
  std::uint64_t hashRun_ = 0;  // '#'s just passed, and where they began
  std::uint64_t hashStart_ = 0;
  // The markup being read: where its '<' is, and where the markup that
  // must end before anything of it is kept began (an element read whole
  // spans its start tag, text and end tag).
  std::uint64_t markupStart_ = 0;
  std::uint64_t openedAt_ = 0;
  bool inElement_ = false;
  bool endTag_ = false;
  char name_[12] = {};
  std::size_t nameSize_ = 0;
  char quote_ = 0;
  // Comments: the dashes right behind (those of "<!--" count), those of
  // the comment's own text, and a "--!" right behind.
  int dashes_ = 0;
  int ownDashes_ = 0;
  bool bang_ = false;
  // Elements read whole: the name, where their text began, and how much of
  // "</name" has matched from rawLt_ on.
  char raw_[12] = {};
  std::size_t rawSize_ = 0;
  std::uint64_t rawStart_ = 0;
  std::uint64_t rawLt_ = 0;
  std::size_t rawMatched_ = 0;
  Unended unended_;
  AttributeWatch* watch_ = nullptr;
  HtmlAttribute attribute_;  // the attribute being read, for watch_
  // While copying: the output, how far it has been written, and where
  // markup began whose start has left the kept bytes.
  Sink* copy_ = nullptr;
  std::uint64_t copied_ = 0;
  bool lost_ = false;
  BlockMark lostMark_{0, 0, Decoder(false, false)};
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

// Told of each token of a page before its body part, and whether it lies in
// the head part.
using PartSeen = std::function<void(const HtmlToken&, bool inHead)>;

// Reads a page up to the start of its body part and finds its head part and
// where the body part starts: bodyStart is kFileEnd when the page has none,
// and then the page has been read to the end of its text. bodyEnd is left
// for CopyToBodyEnd to find. `hasText` counts what has been read.
PageParts FindPageParts(HtmlTokenizer& page, const PartSeen& seen = nullptr);

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

// Where a token of a template lies: before its head tag, from there up to
// its body tag, or from there on.
enum class FramePart { kBeforeHead, kHead, kBody };
using FrameSeen = std::function<void(const HtmlToken&, FramePart)>;

// Reads a template (its tokenizer finding markers) until its marker,
// telling `seen` of each token up to it and where it lies.
TemplateLandmarks FindTemplateLandmarks(HtmlTokenizer& templ,
                                        const FrameSeen& seen = nullptr);

// Passes the characters [from, to) of `in`, read from where it stands, to
// `out`; those before `from` are skipped.
void Transfer(Source& in, std::uint64_t from, std::uint64_t to, Sink& out);

#endif  // MERGE_HTML_READER_H_
