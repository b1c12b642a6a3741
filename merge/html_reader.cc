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

// Elements whose text is read whole, up to their own end tag.
bool HoldsRawText(const HtmlToken& t) {
  return IsOneOf(t, {"script", "style", "title", "textarea", "xmp", "iframe",
                     "noembed", "noframes", "noscript"});
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

}  // namespace

HtmlTokenizer::HtmlTokenizer(int fd, bool findMarkers)
    : fd_(fd), findMarkers_(findMarkers) {
  Restart(0);
}

void HtmlTokenizer::Restart(std::uint64_t offset) {
  if (!RewindFile(fd_)) readError_ = true;
  source_.reset(new Source(fd_, Decoder(TEXT_MODE_FILES, false), false));
  carry_.clear();
  carryPos_ = 0;
  offset_ = 0;
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
  if (c == '<') {
    int next = Peek(1);
    if (IsLetter(next) || next == '!' || next == '?' ||
        (next == '/' && Peek(2) != kEndOfInput)) {
      return Markup();
    }
  }
  return Text();
}

HtmlToken HtmlTokenizer::Text() {
  HtmlToken t;
  t.kind = HtmlToken::Kind::kText;
  t.start = offset_;
  t.firstNonBlank = kFileEnd;
  std::size_t hashes = 0;  // the run of '#' being read, for markers
  std::uint64_t hashesAt = 0;
  auto endRun = [&] {
    if (hashes == 4 && t.marker == kFileEnd) t.marker = hashesAt;
    hashes = 0;
  };
  for (std::string_view v = View(); !v.empty(); v = View()) {
    std::size_t n = 0;
    if (findMarkers_ || t.firstNonBlank == kFileEnd) {
      for (; n < v.size() && v[n] != '<'; ++n) {
        unsigned char c = static_cast<unsigned char>(v[n]);
        if (t.firstNonBlank == kFileEnd && !IsBlank(c)) {
          t.firstNonBlank = offset_ + n;
        }
        if (!findMarkers_) continue;
        if (c != '#') {
          endRun();
        } else if (hashes++ == 0) {
          hashesAt = offset_ + n;
        }
      }
    } else {
      const void* lt = std::memchr(v.data(), '<', v.size());
      n = lt == nullptr ? v.size() : static_cast<const char*>(lt) - v.data();
    }
    Advance(n);
    if (n == v.size()) continue;
    // A '<' that opens markup ends the text; any other is text.
    int next = Peek(1);
    if (IsLetter(next) || next == '!' || next == '?' ||
        (next == '/' && Peek(2) != kEndOfInput)) {
      break;
    }
    endRun();
    if (t.firstNonBlank == kFileEnd) t.firstNonBlank = offset_;
    Advance(1);
  }
  endRun();
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
  for (int c = Peek(0); c != kEndOfInput && !IsBlank(c) && c != '/' && c != '>';
       c = Peek(0)) {
    if (t.nameSize < sizeof t.name) t.name[t.nameSize] = LowerAscii(c);
    if (t.nameSize <= sizeof t.name) ++t.nameSize;
    Advance(1);
  }
  // The tag ends at the first '>' outside a quoted value: a value is quoted
  // when the first character after its '=' and any blanks is a quote.
  bool afterEquals = false;
  for (std::string_view v = View(); !v.empty(); v = View()) {
    const char* gt =
        static_cast<const char*>(std::memchr(v.data(), '>', v.size()));
    std::size_t span = gt == nullptr ? v.size() : gt - v.data();
    if (gt != nullptr && std::memchr(v.data(), '"', span) == nullptr &&
        std::memchr(v.data(), '\'', span) == nullptr) {
      Advance(span + 1);  // no quote before the '>': it ends the tag
      t.end = offset_;
      if (!endTag && t.Is("plaintext")) {
        plaintext_ = true;
      } else if (!endTag && HoldsRawText(t)) {
        std::memcpy(raw_, t.name, t.nameSize);
        rawSize_ = t.nameSize;
      }
      return t;
    }
    std::size_t i = 0;
    bool quoted = false;
    for (; i < span; ++i) {
      char c = v[i];
      if (afterEquals && (c == '"' || c == '\'')) {
        quoted = true;
        break;
      }
      if (c == '=') {
        afterEquals = true;
      } else if (!IsBlank(static_cast<unsigned char>(c))) {
        afterEquals = false;
      }
    }
    if (!quoted) {
      // A quote that follows no '=' is a character like the others: on to
      // the '>' or the next block.
      Advance(i);
      continue;
    }
    char quote = v[i];
    Advance(i + 1);
    afterEquals = false;
    if (!SkipQuoted(quote)) break;
  }
  // The file ended inside the tag: it is no tag, its '<' is text, and the
  // page is read again from the character after it.
  Restart(start + 1);
  HtmlToken text;
  text.kind = HtmlToken::Kind::kText;
  text.start = text.firstNonBlank = start;
  text.end = start + 1;
  return text;
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

PageParts FindPageParts(HtmlTokenizer& page) {
  enum class Phase { kBeforeHead, kInHead, kAfterHead, kInBody, kDone };
  PageParts parts;
  Phase phase = Phase::kBeforeHead;
  HtmlToken t;
  for (t = page.Next(); t.kind != HtmlToken::Kind::kEnd; t = page.Next()) {
    using Kind = HtmlToken::Kind;
    if (t.kind == Kind::kText && t.firstNonBlank < t.end) parts.hasText = true;
    if (phase == Phase::kDone) continue;
    if (phase == Phase::kBeforeHead) {
      // Before the head part: blanks, comments, the html tag and stray end
      // tags are dropped; a head tag or an element of a head opens it.
      if (IsFiller(t) || IsStart(t, "html")) continue;
      if (t.kind == Kind::kStartTag && (t.Is("head") || BelongsInHead(t))) {
        parts.headStart = t.start;
        phase = Phase::kInHead;
        continue;
      }
      if (t.kind == Kind::kEndTag && !IsOneOf(t, {"body", "html", "br"})) {
        continue;
      }
      // Anything else comes after an empty head part.
      parts.headStart = parts.headEnd = t.start;
      phase = Phase::kAfterHead;
    }
    if (phase == Phase::kInHead) {
      if (IsEnd(t, "head")) {
        parts.headEnd = t.end;
        phase = Phase::kAfterHead;
        continue;
      }
      bool staysInHead =
          t.kind == Kind::kComment || t.kind == Kind::kRawText ||
          (t.kind == Kind::kText && t.firstNonBlank == t.end) ||
          (t.kind == Kind::kStartTag &&
           (t.Is("html") || t.Is("head") || BelongsInHead(t))) ||
          (t.kind == Kind::kEndTag && !IsOneOf(t, {"body", "html", "br"}));
      if (staysInHead) continue;
      parts.headEnd = t.kind == Kind::kText ? t.firstNonBlank : t.start;
      phase = Phase::kAfterHead;
    }
    if (phase == Phase::kAfterHead) {
      if (IsFiller(t)) continue;
      if (IsStart(t, "body")) {
        parts.bodyStart = t.end;
        phase = Phase::kInBody;
        continue;
      }
      parts.bodyStart = t.kind == Kind::kText ? t.firstNonBlank : t.start;
      phase = Phase::kInBody;
    }
    if (IsEnd(t, "body") || IsEnd(t, "html")) {
      parts.bodyEnd = t.start;
      phase = Phase::kDone;
    }
  }
  if (phase == Phase::kInHead) parts.headEnd = t.start;
  if (phase == Phase::kInBody) parts.bodyEnd = t.start;
  if (phase != Phase::kInBody && phase != Phase::kDone) {
    parts.bodyStart = parts.bodyEnd = 0;
  }
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
