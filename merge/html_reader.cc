#include "merge/html_reader.h"

#include <algorithm>
#include <cstring>

#include "merge/html_chars.h"
#include "merge/scan.h"
#include "platform/system.h"

namespace {

bool IsOneOf(const HtmlToken& t,
             std::initializer_list<std::string_view> names) {
  for (std::string_view n : names) {
    if (t.Is(n)) return true;
  }
  return false;
}

// Elements that belong in a head: the first of them opens the head part.
bool BelongsInHead(const HtmlToken& t) {
  return IsOneOf(t, {"base", "basefont", "bgsound", "link", "meta", "title",
                     "noscript", "noframes", "style", "script", "template"});
}

bool IsStart(const HtmlToken& t, std::string_view name) {
  return t.kind == HtmlToken::Kind::kStartTag && t.Is(name);
}

bool IsEnd(const HtmlToken& t, std::string_view name) {
  return t.kind == HtmlToken::Kind::kEndTag && t.Is(name);
}

bool EndsBodyPart(const HtmlToken& t) {
  return IsEnd(t, "body") || IsEnd(t, "html");
}

// Blank text, a comment or a doctype: what may stand between parts.
bool IsFiller(const HtmlToken& t) {
  return t.kind == HtmlToken::Kind::kComment ||
         (t.kind == HtmlToken::Kind::kText && t.firstNonBlank == t.end);
}

// What MarkupInView gives when the '<' opens no markup.
constexpr std::size_t kNotMarkup = SIZE_MAX;

// Past the end of the comment or the like at `p`: "-->" from the first dash
// of "<!--", else the next '>'. Null when `end` comes first.
const char* PastCommentEnd(const char* p, const char* end) {
  const char* from = p + 2;
  bool comment = p[1] == '!' && p[2] == '-' && p[3] == '-';
  for (const char* gt = from; gt < end; ++gt) {
    gt = static_cast<const char*>(std::memchr(gt, '>', end - gt));
    if (gt == nullptr) break;
    if (!comment || (gt - from >= 2 && gt[-1] == '-' && gt[-2] == '-')) {
      return gt + 1;
    }
  }
  return nullptr;
}

// The length of the comment or tag at the '<' that starts `v` when all of
// it lies in `v`, filling *t's kind and name; 0 when it may run past `v`,
// for the careful path to read; kNotMarkup when the '<' is text. Most
// markup lies in one block, and is read here without a call per byte.
std::size_t MarkupInView(std::string_view v, HtmlToken* t) {
  const char* p = v.data();
  const char* end = p + v.size();
  if (v.size() < 4) return 0;
  const char* q = p + 1;
  bool endTag = *q == '/';
  if (*q == '!' || *q == '?' || (endTag && !IsAsciiLetter(q[1]))) {
    t->kind = HtmlToken::Kind::kComment;
    const char* past = PastCommentEnd(p, end);
    return past == nullptr ? 0 : past - p;
  }
  if (endTag) ++q;
  if (!IsAsciiLetter(*q)) return kNotMarkup;
  t->kind = endTag ? HtmlToken::Kind::kEndTag : HtmlToken::Kind::kStartTag;
  const char* name = q;
  q = NameEnd(q, end);
  if (q == end) return 0;
  t->nameSize = std::min<std::size_t>(q - name, sizeof t->name + 1);
  for (std::size_t i = 0; i < t->nameSize && i < sizeof t->name; ++i) {
    t->name[i] = LowerAscii(name[i]);
  }
  const char* past = PastTagEnd(q, end);
  return past == nullptr ? 0 : past - p;
}

// Where in `span` a quote opens a value: the first quote whose last byte
// before it that is not blank is a '=', *afterEquals carrying that across
// blocks. The size of `span` when none does.
std::size_t QuoteOpening(std::string_view span, bool* afterEquals) {
  for (std::size_t i = 0; i < span.size(); ++i) {
    char c = span[i];
    if (*afterEquals && (c == '"' || c == '\'')) return i;
    if (c == '=') {
      *afterEquals = true;
    } else if (!IsHtmlBlank(static_cast<unsigned char>(c))) {
      *afterEquals = false;
    }
  }
  return span.size();
}

// Where the reading of a page stands.
enum class Phase { kBeforeHead, kInHead, kAfterHead, kInBody };

// The phase after a token; `again` when the next phase takes the same token.
struct Move {
  Phase next;
  bool again = false;
};

// Before the head part: blanks, comments, the html tag and stray end tags
// are dropped; a head tag or an element of a head opens the head part;
// anything else comes after an empty head part.
Move BeforeHead(const HtmlToken& t, PageParts* parts) {
  if (IsFiller(t) || IsStart(t, "html")) return {Phase::kBeforeHead};
  if (t.kind == HtmlToken::Kind::kStartTag &&
      (t.Is("head") || BelongsInHead(t))) {
    parts->headStart = t.start;
    return {Phase::kInHead};
  }
  if (t.kind == HtmlToken::Kind::kEndTag &&
      !IsOneOf(t, {"body", "html", "br"})) {
    return {Phase::kBeforeHead};
  }
  parts->headStart = parts->headEnd = t.start;
  return {Phase::kAfterHead, true};
}

// In the head part, up to its end tag or the first thing that cannot stand
// in a head: text that is not blank, a start tag other than html, head or an
// element of a head, or </body>, </html> or </br>.
Move InHead(const HtmlToken& t, PageParts* parts) {
  using Kind = HtmlToken::Kind;
  if (IsEnd(t, "head")) {
    parts->headEnd = t.end;
    return {Phase::kAfterHead};
  }
  bool stays = t.kind == Kind::kComment || t.kind == Kind::kRawText ||
               (t.kind == Kind::kText && t.firstNonBlank == t.end) ||
               (t.kind == Kind::kStartTag &&
                (t.Is("html") || t.Is("head") || BelongsInHead(t))) ||
               (t.kind == Kind::kEndTag && !IsOneOf(t, {"body", "html", "br"}));
  if (stays) return {Phase::kInHead};
  parts->headEnd = t.kind == Kind::kText ? t.firstNonBlank : t.start;
  return {Phase::kAfterHead, true};
}

// After the head part: the body part begins after the body tag, or at the
// first thing that is not blank, a comment or a doctype.
Move AfterHead(const HtmlToken& t, PageParts* parts) {
  if (IsFiller(t)) return {Phase::kAfterHead};
  if (IsStart(t, "body")) {
    parts->bodyStart = t.end;
    return {Phase::kInBody};
  }
  parts->bodyStart =
      t.kind == HtmlToken::Kind::kText ? t.firstNonBlank : t.start;
  return {Phase::kInBody};
}

// The phases before the body part; reading stops as it starts.
Move Step(Phase phase, const HtmlToken& t, PageParts* parts) {
  if (phase == Phase::kBeforeHead) return BeforeHead(t, parts);
  if (phase == Phase::kInHead) return InHead(t, parts);
  return AfterHead(t, parts);
}

// A run of '#' in text, read to find the first of exactly four.
struct MarkerRun {
  std::size_t hashes = 0;
  std::uint64_t at = 0;
  // The run has ended: it is the marker when it is the first of four.
  void End(HtmlToken* t) {
    if (hashes == 4 && t->marker == kFileEnd) t->marker = at;
    hashes = 0;
  }
};

// Notes in *t the first byte of `text` (at offset `at`) that is not blank
// and, with `markers`, the runs of '#'.
void NoteText(std::string_view text, std::uint64_t at, bool markers,
              HtmlToken* t, MarkerRun* run) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (t->firstNonBlank == kFileEnd && !IsHtmlBlank(c)) {
      t->firstNonBlank = at + i;
    }
    if (!markers) {
      if (t->firstNonBlank != kFileEnd) return;
    } else if (c != '#') {
      run->End(t);
    } else if (run->hashes++ == 0) {
      run->at = at + i;
    }
  }
}

}  // namespace

HtmlTokenizer::HtmlTokenizer(Source& file, bool findMarkers)
    : source_(file),
      findMarkers_(findMarkers),
      offset_(Offset(file)),
      mark_(file.mark) {
  // Allocated now, so that nothing is once an output file exists.
  carry_.reserve(64);
  held_.reserve(kHeldRoom);
}

void HtmlTokenizer::Restart(std::uint64_t offset) {
  // Where the reader sees the bytes as they are, the file is read again
  // from `offset` itself; else from the start of a block known to lie
  // before it, or from the file's start, decoded as before.
  Decoder decoder(TEXT_MODE_FILES, false);
  BlockMark from{offset, offset, decoder};
  if (!decoder.Transparent()) {
    from = mark_.consumed <= offset ? mark_ : BlockMark{0, 0, decoder};
  }
  if (!SeekFile(source_.fd, from.raw)) source_.readError = true;
  ReadAfresh(source_, from);
  carry_.clear();
  carryPos_ = 0;
  offset_ = from.consumed;
  while (offset_ < offset) {
    std::string_view ahead = Ahead(source_);
    if (ahead.empty()) break;
    std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(ahead.size(), offset - offset_));
    Skip(source_, n);
    offset_ += n;
  }
}

void HtmlTokenizer::ReadFrom(std::uint64_t offset) {
  rawSize_ = 0;
  plaintext_ = false;
  carry_.clear();
  carryPos_ = 0;
  std::uint64_t block = source_.consumed;
  if (!source_.ended && block <= offset && offset <= block + source_.end) {
    source_.pos = static_cast<std::size_t>(offset - block);
    offset_ = offset;
  } else {
    Restart(offset);
  }
}

std::string_view HtmlTokenizer::View() {
  if (carryPos_ < carry_.size()) {
    return std::string_view(carry_).substr(carryPos_);
  }
  carry_.clear();
  carryPos_ = 0;
  return Ahead(source_);
}

void HtmlTokenizer::Advance(std::size_t n) {
  offset_ += n;
  std::size_t fromCarry = std::min(n, carry_.size() - carryPos_);
  if (copy_ != nullptr && fromCarry > 0) {
    Put(carry_.data() + carryPos_, fromCarry);
  }
  carryPos_ += fromCarry;
  if (n == fromCarry) return;
  if (copy_ != nullptr) Put(source_.block.get() + source_.pos, n - fromCarry);
  Skip(source_, n - fromCarry);
}

void HtmlTokenizer::Put(const char* data, std::size_t n) {
  if (!holding_) {
    copy_->Write(data, n);
  } else if (!heldLost_ && n <= held_.capacity() - held_.size()) {
    held_.append(data, n);
  } else {
    heldLost_ = true;
  }
}

void HtmlTokenizer::Pass(std::uint64_t n) {
  while (n > 0) {
    std::string_view v = View();
    if (v.empty()) return;
    auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, v.size()));
    Advance(k);
    n -= k;
  }
}

void HtmlTokenizer::Copy(std::uint64_t from, std::uint64_t to, Sink& out) {
  ReadFrom(from);
  copy_ = &out;
  Pass(to - from);
  copy_ = nullptr;
}

int HtmlTokenizer::Peek(std::size_t k) {
  for (;;) {
    std::size_t held = carry_.size() - carryPos_;
    if (k < held) return static_cast<unsigned char>(carry_[carryPos_ + k]);
    std::string_view ahead = Ahead(source_);
    if (k - held < ahead.size()) {
      return static_cast<unsigned char>(ahead[k - held]);
    }
    if (ahead.empty()) return kEndOfInput;
    // What is wanted lies past this block, which is a few bytes at most:
    // they are kept here while the source reads on.
    carry_.erase(0, carryPos_);
    carryPos_ = 0;
    carry_.append(ahead.data(), ahead.size());
    Skip(source_, ahead.size());
  }
}

HtmlToken HtmlTokenizer::Next() {
  HtmlToken end;
  end.start = end.end = offset_;
  if (source_.readError) return end;
  if (plaintext_) {
    HtmlToken t;
    t.kind = HtmlToken::Kind::kRawText;
    t.start = offset_;
    for (std::string_view v = View(); !v.empty(); v = View()) Advance(v.size());
    t.end = offset_;
    return t.start == t.end ? end : t;
  }
  if (rawSize_ > 0) return RawText();
  int c = Peek(0);
  if (c == kEndOfInput) return end;
  if (c != '<' || !OpensMarkup()) return Text();
  HtmlToken t;
  std::size_t n = MarkupInView(View(), &t);
  if (n == 0 || n == kNotMarkup) return Markup();  // may run past the block
  t.start = offset_;
  // The tag that ends a body part being copied is not copied.
  holding_ = copy_ != nullptr && EndsBodyPart(t);
  Advance(n);
  holding_ = false;
  t.end = offset_;
  if (t.kind == HtmlToken::Kind::kStartTag) NoteStartTag(t);
  return t;
}

bool HtmlTokenizer::OpensMarkup() {
  int next = Peek(1);
  // Where no '>' follows, no tag can end: its '<' is text.
  if (IsAsciiLetter(next) || (next == '/' && IsAsciiLetter(Peek(2)))) {
    return offset_ < noGreater_;
  }
  return next == '!' || next == '?' || (next == '/' && Peek(2) != kEndOfInput);
}

HtmlToken HtmlTokenizer::Text() {
  HtmlToken t;
  t.kind = HtmlToken::Kind::kText;
  t.start = offset_;
  t.firstNonBlank = kFileEnd;
  MarkerRun run;
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const void* lt = std::memchr(v.data(), '<', v.size());
    std::size_t n =
        lt == nullptr ? v.size() : static_cast<const char*>(lt) - v.data();
    if (findMarkers_ || t.firstNonBlank == kFileEnd) {
      NoteText(v.substr(0, n), offset_, findMarkers_, &t, &run);
    }
    Advance(n);
    if (n == v.size()) continue;
    // A '<' that opens markup ends the text; any other is text.
    if (OpensMarkup()) break;
    NoteText("<", offset_, findMarkers_, &t, &run);
    Advance(1);
  }
  run.End(&t);
  t.end = offset_;
  if (t.firstNonBlank == kFileEnd) t.firstNonBlank = t.end;
  return t;
}

HtmlToken HtmlTokenizer::Markup() {
  std::uint64_t start = offset_;
  int next = Peek(1);
  if (next == '!' && Peek(2) == '-' && Peek(3) == '-') return Comment(start);
  if (next == '!' || next == '?') return Bogus(start);
  if (next == '/') {
    return IsAsciiLetter(Peek(2)) ? Tag(start, true) : Bogus(start);
  }
  return Tag(start, false);
}

HtmlToken HtmlTokenizer::Comment(std::uint64_t start) {
  HtmlToken t;
  t.kind = HtmlToken::Kind::kComment;
  t.start = start;
  // "-->" is looked for from the first dash, so "<!-->" ends at once.
  Advance(2);
  int last = -1;
  int beforeLast = -1;
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const void* gt = std::memchr(v.data(), '>', v.size());
    std::size_t upto =
        gt == nullptr ? v.size() : static_cast<const char*>(gt) - v.data();
    if (upto >= 2) {
      beforeLast = v[upto - 2];
      last = v[upto - 1];
    } else if (upto == 1) {
      beforeLast = last;
      last = v[0];
    }
    if (gt == nullptr) {
      Advance(upto);
      continue;
    }
    Advance(upto + 1);
    if (last == '-' && beforeLast == '-') break;
    beforeLast = last;
    last = '>';
  }
  t.end = offset_;
  return t;
}

HtmlToken HtmlTokenizer::Bogus(std::uint64_t start) {
  HtmlToken t;
  t.kind = HtmlToken::Kind::kComment;
  t.start = start;
  Advance(2);
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const void* gt = std::memchr(v.data(), '>', v.size());
    if (gt != nullptr) {
      Advance(static_cast<const char*>(gt) - v.data() + 1);
      break;
    }
    Advance(v.size());
  }
  t.end = offset_;
  return t;
}

bool HtmlTokenizer::SkipQuoted(int quote) {
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const void* hit = std::memchr(v.data(), quote, v.size());
    if (hit != nullptr) {
      Advance(static_cast<const char*>(hit) - v.data() + 1);
      return true;
    }
    Advance(v.size());
  }
  return false;
}

HtmlToken HtmlTokenizer::Tag(std::uint64_t start, bool endTag) {
  HtmlToken t;
  t.kind = endTag ? HtmlToken::Kind::kEndTag : HtmlToken::Kind::kStartTag;
  t.start = start;
  // Where to read again from, should the tag be text or too long to hold:
  // the block it starts in, unless it starts in bytes carried from the
  // block before.
  if (carryPos_ == carry_.size()) mark_ = source_.mark;
  // A tag being copied is held back until it is known to end.
  holding_ = copy_ != nullptr;
  held_.clear();
  heldLost_ = false;
  Advance(endTag ? 2 : 1);
  std::uint64_t name = offset_;
  ReadName(&t);
  // A name holds no '>': the search for one counts from the name on.
  bool ends = PassTagEnd(name);
  holding_ = false;
  if (!ends) return TagIsText(start);
  t.end = offset_;
  if (copy_ != nullptr && !EndsBodyPart(t)) Release(t);
  if (!endTag) NoteStartTag(t);
  return t;
}

void HtmlTokenizer::Release(const HtmlToken& t) {
  if (!heldLost_) {
    copy_->Write(held_);
    return;
  }
  // The tag went on past the room to hold it: it is read again.
  Restart(t.start);
  Pass(t.end - t.start);
}

void HtmlTokenizer::ReadName(HtmlToken* t) {
  for (std::string_view v = View(); !v.empty(); v = View()) {
    std::size_t n = FindNameEnd(v.data(), v.size());
    // Only the head of a long name is kept: enough to tell it from every
    // name the mode knows.
    for (std::size_t i = 0; i < n && t->nameSize <= sizeof t->name; ++i) {
      if (t->nameSize < sizeof t->name) t->name[t->nameSize] = LowerAscii(v[i]);
      ++t->nameSize;
    }
    Advance(n);
    if (n < v.size()) return;
  }
}

bool HtmlTokenizer::PassTagEnd(std::uint64_t since) {
  bool afterEquals = false;
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const char* gt =
        static_cast<const char*>(std::memchr(v.data(), '>', v.size()));
    std::size_t span = gt == nullptr ? v.size() : gt - v.data();
    if (gt != nullptr && std::memchr(v.data(), '"', span) == nullptr &&
        std::memchr(v.data(), '\'', span) == nullptr) {
      Advance(span + 1);  // no quote before the '>': it ends the tag
      return true;
    }
    std::size_t i = QuoteOpening(v.substr(0, span), &afterEquals);
    Advance(i);
    if (i == span) continue;  // on to the '>' or the next block
    if (!PassQuoted(v[i])) return false;
    afterEquals = false;
    since = offset_;
  }
  noGreater_ = std::min(noGreater_, since);
  return false;
}

bool HtmlTokenizer::PassQuoted(char quote) {
  std::uint64_t& noQuote = quote == '"' ? noDouble_ : noSingle_;
  if (offset_ >= noQuote) return false;  // known never to close
  std::uint64_t opened = offset_;
  Advance(1);
  if (SkipQuoted(quote)) return true;
  noQuote = opened;
  return false;
}

// The file ended inside the tag at `start`: it is no tag, its '<' is text,
// and the page is read again from the character after it.
HtmlToken HtmlTokenizer::TagIsText(std::uint64_t start) {
  Restart(start + 1);
  if (copy_ != nullptr) copy_->Write("<", 1);
  HtmlToken text;
  text.kind = HtmlToken::Kind::kText;
  text.start = text.firstNonBlank = start;
  text.end = start + 1;
  return text;
}

void HtmlTokenizer::NoteStartTag(const HtmlToken& t) {
  if (t.Is("plaintext")) {
    plaintext_ = true;
  } else if (OpensRawText(t.name, t.nameSize)) {
    std::memcpy(raw_, t.name, t.nameSize);
    rawSize_ = t.nameSize;
  }
}

HtmlToken HtmlTokenizer::RawText() {
  HtmlToken t;
  t.kind = HtmlToken::Kind::kRawText;
  t.start = offset_;
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const void* lt = std::memchr(v.data(), '<', v.size());
    if (lt == nullptr) {
      Advance(v.size());
      continue;
    }
    Advance(static_cast<const char*>(lt) - v.data());
    // "</", the element's name in any case, and a blank, '/' or '>'.
    bool ends = Peek(1) == '/';
    for (std::size_t i = 0; ends && i < rawSize_; ++i) {
      ends = LowerAscii(Peek(2 + i)) == raw_[i];
    }
    int after = ends ? Peek(2 + rawSize_) : kEndOfInput;
    if (ends && (IsHtmlBlank(after) || after == '/' || after == '>')) break;
    Advance(1);
  }
  rawSize_ = 0;
  t.end = offset_;
  return t;
}

std::uint64_t HtmlTokenizer::CopyToBodyEnd(Sink& out) {
  copy_ = &out;
  std::uint64_t end = kFileEnd;
  while (end == kFileEnd) {
    std::string_view v = View();
    if (v.empty()) {
      end = offset_;
      break;
    }
    bool found = false;
    const char* stop = plaintext_ || rawSize_ > 0
                           ? v.data()
                           : FindBodyEnd(v.data(), v.data() + v.size(), &found);
    Advance(stop - v.data());
    if (found) {
      end = offset_;  // the end tag is left unread
    } else if (stop != v.data() + v.size()) {
      // Markup the scan leaves to the careful path.
      HtmlToken t = Next();
      if (t.kind == HtmlToken::Kind::kEnd) end = offset_;
      if (EndsBodyPart(t)) end = t.start;
    }
  }
  copy_ = nullptr;
  return end;
}

PageParts FindPageParts(HtmlTokenizer& page) {
  PageParts parts;
  Phase phase = Phase::kBeforeHead;
  HtmlToken t;
  for (t = page.Next(); t.kind != HtmlToken::Kind::kEnd; t = page.Next()) {
    if (t.kind == HtmlToken::Kind::kText && t.firstNonBlank < t.end) {
      parts.hasText = true;
    }
    Move move{phase, true};
    while (move.again) move = Step(move.next, t, &parts);
    phase = move.next;
    if (phase == Phase::kInBody) return parts;
  }
  if (phase == Phase::kInHead) parts.headEnd = t.start;
  parts.bodyStart = parts.bodyEnd = kFileEnd;
  return parts;
}

bool HasTextAhead(HtmlTokenizer& page) {
  for (HtmlToken t = page.Next(); t.kind != HtmlToken::Kind::kEnd;
       t = page.Next()) {
    if (t.kind == HtmlToken::Kind::kText && t.firstNonBlank < t.end) {
      return true;
    }
  }
  return false;
}

TemplateLandmarks FindTemplateLandmarks(HtmlTokenizer& templ) {
  TemplateLandmarks marks;
  bool head = false;
  bool body = false;
  for (HtmlToken t = templ.Next(); t.kind != HtmlToken::Kind::kEnd;
       t = templ.Next()) {
    if (!head) {
      if (IsStart(t, "body")) break;  // a body tag before any head tag
      if (IsStart(t, "head")) {
        marks.headTag = t.start;
        head = true;
      }
    } else if (!body) {
      if (IsStart(t, "body")) {
        marks.bodyTag = t.start;
        body = true;
      }
    } else if (t.kind == HtmlToken::Kind::kText && t.marker != kFileEnd) {
      marks.marker = t.marker;
      return marks;
    }
  }
  marks.missing = !head   ? Missing::kHeadTag
                  : !body ? Missing::kBodyTag
                          : Missing::kMarker;
  return marks;
}
