#include "merge/html_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"

namespace {

// The blanks of HTML: space, tab, line feed, form feed, carriage return.
bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsLetter(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char LowerAscii(int c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

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

// Blank text, a comment or a doctype: what may stand between parts.
bool IsFiller(const HtmlToken& t) {
  return t.kind == HtmlToken::Kind::kComment ||
         (t.kind == HtmlToken::Kind::kText && t.firstNonBlank == t.end);
}

// What MarkupInView gives when the '<' opens no markup.
constexpr std::size_t kNotMarkup = SIZE_MAX;

// The length of the comment or tag at the '<' that starts `v` when all of
// it lies in `v`, filling *t's kind and name; 0 when it may run past `v`,
// for the careful path to read; kNotMarkup when the '<' is text. Most
// markup lies in one block, and is read here without a call per byte.
// The end of a tag's name that begins at `q`: the first blank, '/' or '>',
// or `end`.
const char* NameEnd(const char* q, const char* end) {
  while (q < end && !IsBlank(static_cast<unsigned char>(*q)) && *q != '/' &&
         *q != '>') {
    ++q;
  }
  return q;
}

// Past the '>' that ends the tag whose name ends at `q`: the first '>'
// outside a quoted value, where a quote opens a value when the last byte
// before it that is not blank is a '='. Null when `end` comes first.
const char* PastTagEnd(const char* q, const char* end) {
  const char* from = q;
  for (;;) {
    while (q < end && *q != '>' && *q != '"' && *q != '\'') ++q;
    if (q == end) return nullptr;
    if (*q == '>') return q + 1;
    const char* r = q;
    while (r > from && IsBlank(static_cast<unsigned char>(r[-1]))) --r;
    if (r > from && r[-1] == '=') {
      q = static_cast<const char*>(std::memchr(q + 1, *q, end - (q + 1)));
      if (q == nullptr) return nullptr;
      from = ++q;
    } else {
      ++q;
    }
  }
}

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

std::size_t MarkupInView(std::string_view v, HtmlToken* t) {
  const char* p = v.data();
  const char* end = p + v.size();
  if (v.size() < 4) return 0;
  const char* q = p + 1;
  bool endTag = *q == '/';
  if (*q == '!' || *q == '?' || (endTag && !IsLetter(q[1]))) {
    t->kind = HtmlToken::Kind::kComment;
    const char* past = PastCommentEnd(p, end);
    return past == nullptr ? 0 : past - p;
  }
  if (endTag) ++q;
  if (!IsLetter(*q)) return kNotMarkup;
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

// True when the `size` bytes at `name` spell `word` (lower case, letters
// only) in any case.
bool NameIs(const char* name, std::size_t size, const char* word) {
  for (std::size_t i = 0; i < size; ++i) {
    if ((name[i] | 0x20) != word[i] || word[i] == '\0') return false;
  }
  return word[size] == '\0';
}

// True when a start tag of this name makes the text after it read whole.
bool OpensRawText(const char* name, std::size_t size) {
  switch (*name | 0x20) {
    case 's':
      return NameIs(name, size, "script") || NameIs(name, size, "style");
    case 't':
      return NameIs(name, size, "title") || NameIs(name, size, "textarea");
    case 'x':
      return NameIs(name, size, "xmp");
    case 'i':
      return NameIs(name, size, "iframe");
    case 'n':
      return NameIs(name, size, "noscript") || NameIs(name, size, "noembed") ||
             NameIs(name, size, "noframes");
    case 'p':
      return NameIs(name, size, "plaintext");
    default:
      return false;
  }
}

// Passes over the body text and markup of `v` up to the first </body> or
// </html> (*found set), or up to markup the careful path must read: one
// that may run past `v`, a comment or the like, or a start tag after which
// text may be read whole. Gives where it stopped, or the end of `v`. Tags
// are read here without a call per byte, the common case.
const char* ScanBody(std::string_view v, bool* found) {
  const char* p = v.data();
  const char* end = p + v.size();
  for (;;) {
    const char* lt = static_cast<const char*>(std::memchr(p, '<', end - p));
    if (lt == nullptr) return end;
    if (end - lt < 4) return lt;
    const char* q = lt + 1;
    bool endTag = *q == '/';
    if (endTag) ++q;
    if (!IsLetter(*q)) {
      if (endTag || *q == '!' || *q == '?') return lt;  // a comment or the like
      p = lt + 1;                                       // a '<' that is text
      continue;
    }
    const char* name = q;
    q = NameEnd(q, end);
    if (q == end) return lt;
    std::size_t size = q - name;
    if (!endTag && OpensRawText(name, size)) return lt;
    const char* past = PastTagEnd(q, end);
    // A tag whose '>' is not in the view may never end, and be text.
    if (past == nullptr) return lt;
    if (endTag && (NameIs(name, size, "body") || NameIs(name, size, "html"))) {
      *found = true;
      return lt;
    }
    p = past;
  }
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
    } else if (!IsBlank(static_cast<unsigned char>(c))) {
      *afterEquals = false;
    }
  }
  return span.size();
}

// Where the reading of a page stands.
enum class Phase { kBeforeHead, kInHead, kAfterHead, kInBody, kDone };

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
  return {Phase::kInBody, true};
}

Move Step(Phase phase, const HtmlToken& t, PageParts* parts) {
  switch (phase) {
    case Phase::kBeforeHead:
      return BeforeHead(t, parts);
    case Phase::kInHead:
      return InHead(t, parts);
    case Phase::kAfterHead:
      return AfterHead(t, parts);
    case Phase::kInBody:
      if (IsEnd(t, "body") || IsEnd(t, "html")) {
        parts->bodyEnd = t.start;
        return {Phase::kDone};
      }
      return {Phase::kInBody};
    case Phase::kDone:
      break;
  }
  return {Phase::kDone};
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
    if (t->firstNonBlank == kFileEnd && !IsBlank(c)) t->firstNonBlank = at + i;
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

HtmlTokenizer::HtmlTokenizer(int fd, bool findMarkers)
    : fd_(fd), findMarkers_(findMarkers) {
  Restart(0);
}

void HtmlTokenizer::Restart(std::uint64_t offset) {
  // Where the reader sees the bytes as they are, the file is read again
  // from `offset` itself; else from its start, decoded as before.
  Decoder decoder(TEXT_MODE_FILES, false);
  std::uint64_t at = decoder.Transparent() ? offset : 0;
  if (!SeekFile(fd_, at)) readError_ = true;
  source_.reset(new Source(fd_, decoder, false));
  carry_.clear();
  carryPos_ = 0;
  offset_ = at;
  while (offset_ < offset) {
    std::string_view ahead = Ahead(*source_);
    if (ahead.empty()) break;
    std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(ahead.size(), offset - offset_));
    Skip(*source_, n);
    offset_ += n;
  }
}

std::string_view HtmlTokenizer::View() {
  if (carryPos_ < carry_.size()) {
    return std::string_view(carry_).substr(carryPos_);
  }
  carry_.clear();
  carryPos_ = 0;
  std::string_view ahead = Ahead(*source_);
  if (source_->readError) readError_ = true;
  return ahead;
}

void HtmlTokenizer::Advance(std::size_t n) {
  offset_ += n;
  std::size_t fromCarry = std::min(n, carry_.size() - carryPos_);
  carryPos_ += fromCarry;
  if (n > fromCarry) Skip(*source_, n - fromCarry);
}

int HtmlTokenizer::Peek(std::size_t k) {
  for (;;) {
    std::size_t held = carry_.size() - carryPos_;
    if (k < held) return static_cast<unsigned char>(carry_[carryPos_ + k]);
    std::string_view ahead = Ahead(*source_);
    if (k - held < ahead.size()) {
      return static_cast<unsigned char>(ahead[k - held]);
    }
    if (ahead.empty()) {
      if (source_->readError) readError_ = true;
      return kEndOfInput;
    }
    // What is wanted lies past this block, which is a few bytes at most:
    // they are kept here while the source reads on.
    carry_.erase(0, carryPos_);
    carryPos_ = 0;
    carry_.append(ahead.data(), ahead.size());
    Skip(*source_, ahead.size());
  }
}

HtmlToken HtmlTokenizer::Next() {
  HtmlToken end;
  end.start = end.end = offset_;
  if (readError_) return end;
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
  Advance(n);
  t.end = offset_;
  if (t.kind == HtmlToken::Kind::kStartTag) NoteStartTag(t);
  return t;
}

bool HtmlTokenizer::OpensMarkup() {
  int next = Peek(1);
  // Where no '>' follows, no tag can end: its '<' is text.
  if (IsLetter(next) || (next == '/' && IsLetter(Peek(2)))) {
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
  if (next == '/') return IsLetter(Peek(2)) ? Tag(start, true) : Bogus(start);
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
  Advance(endTag ? 2 : 1);
  std::uint64_t name = offset_;
  ReadName(&t);
  // A name holds no '>': the search for one counts from the name on.
  if (!PassTagEnd(name)) return TagIsText(start);
  t.end = offset_;
  if (!endTag) NoteStartTag(t);
  return t;
}

void HtmlTokenizer::ReadName(HtmlToken* t) {
  for (std::string_view v = View(); !v.empty(); v = View()) {
    std::size_t i = 0;
    for (; i < v.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(v[i]);
      if (IsBlank(c) || c == '/' || c == '>') break;
      if (t->nameSize < sizeof t->name) t->name[t->nameSize] = LowerAscii(c);
      if (t->nameSize <= sizeof t->name) ++t->nameSize;
    }
    Advance(i);
    if (i < v.size()) return;
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
    if (ends && (IsBlank(after) || after == '/' || after == '>')) break;
    Advance(1);
  }
  rawSize_ = 0;
  t.end = offset_;
  return t;
}

std::uint64_t HtmlTokenizer::SkipToBodyEnd() {
  for (;;) {
    std::string_view v = View();
    if (v.empty()) return offset_;
    bool found = false;
    const char* stop =
        plaintext_ || rawSize_ > 0 ? v.data() : ScanBody(v, &found);
    Advance(stop - v.data());
    if (found) return offset_;  // the end tag is left unread
    if (stop == v.data() + v.size()) continue;
    // Markup the scan leaves to the careful path.
    HtmlToken t = Next();
    if (t.kind == HtmlToken::Kind::kEnd) return offset_;
    if (IsEnd(t, "body") || IsEnd(t, "html")) return t.start;
  }
}

PageParts FindPageParts(HtmlTokenizer& page) {
  PageParts parts;
  Phase phase = Phase::kBeforeHead;
  HtmlToken t;
  for (t = page.Next(); t.kind != HtmlToken::Kind::kEnd; t = page.Next()) {
    if (t.kind == HtmlToken::Kind::kText && t.firstNonBlank < t.end) {
      parts.hasText = true;
    }
    if (phase == Phase::kDone) continue;
    Move move{phase, true};
    while (move.again) move = Step(move.next, t, &parts);
    phase = move.next;
    if (phase == Phase::kInBody) {
      // The body part needs no token but the one that ends it.
      parts.bodyEnd = page.SkipToBodyEnd();
      phase = Phase::kDone;
      // An empty body part wants to know whether the page has text.
      if (parts.bodyEnd > parts.bodyStart || page.ReadError()) return parts;
    }
  }
  if (phase == Phase::kInHead) parts.headEnd = t.start;
  if (phase != Phase::kDone) parts.bodyStart = parts.bodyEnd = 0;
  return parts;
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
