#include "merge/html_reader.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "merge/html_chars.h"

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

// Blank text, a comment or a doctype: what may stand between parts.
bool IsFiller(const HtmlToken& t) {
  return t.kind == HtmlToken::Kind::kComment ||
         (t.kind == HtmlToken::Kind::kText && t.firstNonBlank == t.end);
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
  if (IsFiller(t) || t.IsStartTag("html")) return {Phase::kBeforeHead};
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
  if (t.IsEndTag("head")) {
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
  if (t.IsStartTag("body")) {
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

}  // namespace

// The tokenizer's states follow the HTML standard's where they decide where
// markup ends: a quote opens a value only after an attribute's '=', a '='
// before any name starts one, and "<!--" ends at "-->" from its first dash
// or at "--!>" after it. Text, quoted values, comments and the text of an
// element read whole are passed by a search for the next byte that matters
// in their state; names and the space between attributes byte by byte,
// through one table of byte classes. A copy of a body first lets the
// scanner pass, 64 bytes at a time, the plain text and tags it need not
// look at (SkimTags), and reads the rest with the state machine.

HtmlTokenizer::HtmlTokenizer(Source& file, bool findMarkers)
    : source_(file), findMarkers_(findMarkers) {
  ResetText(Offset(file));
}

void HtmlTokenizer::ResetText(std::uint64_t at) {
  textStart_ = at;
  firstNonBlank_ = kFileEnd;
  marker_ = kFileEnd;
  hashRun_ = 0;
}

void HtmlTokenizer::NoteText(const char* from, const char* to) {
  if (firstNonBlank_ == kFileEnd) {
    for (const char* c = from; c < to; ++c) {
      if (!IsHtmlBlank(static_cast<unsigned char>(*c))) {
        firstNonBlank_ = At(c);
        break;
      }
    }
  }
  if (!findMarkers_) return;
  for (const char* c = from; c < to; ++c) {
    if (*c == '#') {
      if (hashRun_++ == 0) hashStart_ = At(c);
      continue;
    }
    if (hashRun_ == 4 && marker_ == kFileEnd) marker_ = hashStart_;
    hashRun_ = 0;
  }
}

void HtmlTokenizer::NoteLessThan() {
  if (firstNonBlank_ == kFileEnd) firstNonBlank_ = markupStart_;
  if (hashRun_ == 4 && marker_ == kFileEnd) marker_ = hashStart_;
  hashRun_ = 0;
}

bool HtmlTokenizer::TokenReady(HtmlToken::Kind kind, std::uint64_t start,
                               std::uint64_t end) {
  if (!tokens_) return false;
  token_ = HtmlToken();
  token_.kind = kind;
  token_.start = start;
  token_.end = end;
  if (kind == HtmlToken::Kind::kText) {
    if (hashRun_ == 4 && marker_ == kFileEnd) marker_ = hashStart_;
    hashRun_ = 0;
    token_.firstNonBlank = firstNonBlank_ == kFileEnd ? end : firstNonBlank_;
    token_.marker = marker_;
  } else if (kind != HtmlToken::Kind::kRawText) {
    std::memcpy(token_.name, name_, sizeof name_);
    token_.nameSize = nameSize_;
  }
  return true;
}

bool HtmlTokenizer::BeginMarkup() {
  openedAt_ = markupStart_;
  return textStart_ < markupStart_ &&
         TokenReady(HtmlToken::Kind::kText, textStart_, markupStart_);
}

void HtmlTokenizer::BeginTag(bool endTag) {
  endTag_ = endTag;
  nameSize_ = 0;
  state_ = State::kTagName;
}

HtmlTokenizer::Stop HtmlTokenizer::BackToText(const char* next) {
  state_ = State::kText;
  ResetText(At(next));
  return copy_ != nullptr && lost_ ? Stop::kRecopy : Stop::kViewEnd;
}

HtmlTokenizer::Stop HtmlTokenizer::EndMarkup(HtmlToken::Kind kind,
                                             const char* next) {
  bool ready = TokenReady(kind, markupStart_, At(next));
  Stop stop = BackToText(next);
  return ready ? Stop::kToken : stop;
}

HtmlTokenizer::Stop HtmlTokenizer::EndTag(const char* next) {
  HtmlToken::Kind kind =
      endTag_ ? HtmlToken::Kind::kEndTag : HtmlToken::Kind::kStartTag;
  if (inElement_) {
    inElement_ = false;  // the end tag of an element read whole
  } else if (!endTag_ && OpensRawText(name_, nameSize_)) {
    bool ready = TokenReady(kind, markupStart_, At(next));
    rawStart_ = At(next);
    if (NameIs(name_, nameSize_, "plaintext")) {
      // The rest of the file is text, so nothing after it is held back.
      state_ = State::kPlaintext;
      if (copy_ != nullptr && lost_) return Stop::kRecopy;
    } else {
      state_ = State::kRawText;
      inElement_ = true;
      std::memcpy(raw_, name_, sizeof raw_);
      rawSize_ = nameSize_;
      rawMatched_ = 0;
    }
    return ready ? Stop::kToken : Stop::kViewEnd;
  }
  return EndMarkup(kind, next);
}

const char* HtmlTokenizer::InTagName(const char* p, const char* end,
                                     Stop* stop) {
  const char* q = NameEnd(p, end);
  std::size_t room = nameSize_ < sizeof name_ ? sizeof name_ - nameSize_ : 0;
  for (std::size_t i = 0; i < room && p + i < q; ++i) {
    name_[nameSize_ + i] = LowerAscii(p[i]);
  }
  nameSize_ = std::min<std::size_t>(nameSize_ + (q - p), sizeof name_ + 1);
  if (q == end) return q;
  // A copy ends at </body> or </html> as soon as its name is read.
  if (copy_ != nullptr && endTag_ && !inElement_ &&
      EndsBody(name_, nameSize_)) {
    *stop = Stop::kBodyEnd;
    return q;
  }
  if (*q == '>') {
    *stop = EndTag(q + 1);
    return q + 1;
  }
  state_ = State::kBeforeAttribute;
  return InTag(q + 1, end, stop);
}

const char* HtmlTokenizer::InTag(const char* p, const char* end, Stop* stop) {
  constexpr unsigned char kEndsAttributeName =
      kBlankByte | kSlashByte | kEqualsByte | kGreaterByte;
  auto is = [](char c, unsigned char classes) {
    return (TagByteOf(c) & classes) != 0;
  };
  // The states follow one another here without a return to the caller;
  // the state is stored only when the view ends inside the tag.
  // Entered mostly between attributes: tested in turn, not by a jump
  // table, whose target the processor would have to guess.
  char c = 0;
  const char* from = p;  // where the name or value being read is in view
  if (state_ == State::kBeforeAttribute) goto before_attribute;
  if (state_ == State::kAttributeName) goto attribute_name;
  if (state_ == State::kAfterAttributeName) goto after_attribute_name;
  if (state_ == State::kBeforeValue) goto before_value;
  if (state_ == State::kQuotedValue) goto quoted_value;
  if (state_ == State::kUnquotedValue) goto unquoted_value;
  return p;
before_attribute:
  while (p < end && is(*p, kBlankByte | kSlashByte)) ++p;
  if (p == end) return Suspend(State::kBeforeAttribute, p);
  if (*p == '>') return Ended(p + 1, stop);
  // Even '=' or a quote begins a name here.
  from = p++;
  if (watch_ != nullptr) StartAttribute(from);
attribute_name:
  while (p < end && !is(*p, kEndsAttributeName)) ++p;
  if (watch_ != nullptr) NoteAttributeName(from, p);
  if (p == end) return Suspend(State::kAttributeName, p);
  if (watch_ != nullptr) watch_->Name(attribute_);
  c = *p++;
  if (c == '>') return Ended(p, stop);
  if (c == '=') goto before_value;
  if (c == '/') goto before_attribute;
after_attribute_name:
  while (p < end && is(*p, kBlankByte)) ++p;
  if (p == end) return Suspend(State::kAfterAttributeName, p);
  c = *p++;
  if (c == '>') return Ended(p, stop);
  if (c == '/') goto before_attribute;
  if (c != '=') {
    from = p - 1;
    if (watch_ != nullptr) StartAttribute(from);
    goto attribute_name;
  }
before_value:
  while (p < end && is(*p, kBlankByte)) ++p;
  if (p == end) return Suspend(State::kBeforeValue, p);
  c = *p++;
  if (c == '>') return Ended(p, stop);
  if (c != '"' && c != '\'') {
    from = p - 1;
    if (watch_ != nullptr) StartValue(from, 0);
    goto unquoted_value;
  }
  quote_ = c;
  from = p;
  if (watch_ != nullptr) StartValue(p - 1, c);
quoted_value:
  p = FindByte(p, end, quote_);
  if (watch_ != nullptr) ValueBytes(from, p);
  if (p == end) return Suspend(State::kQuotedValue, p);
  ++p;
  if (watch_ != nullptr) EndValue(p);
  goto before_attribute;
unquoted_value:
  while (p < end && !is(*p, kBlankByte | kGreaterByte)) ++p;
  if (watch_ != nullptr) ValueBytes(from, p);
  if (p == end) return Suspend(State::kUnquotedValue, p);
  if (watch_ != nullptr) EndValue(p);
  if (*p++ == '>') return Ended(p, stop);
  goto before_attribute;
}

void HtmlTokenizer::StartAttribute(const char* at) {
  attribute_ = HtmlAttribute();
  attribute_.tag = markupStart_;
  attribute_.endTag = endTag_;
  std::memcpy(attribute_.tagName, name_, sizeof name_);
  attribute_.tagNameSize = nameSize_;
  attribute_.nameStart = At(at);
}

void HtmlTokenizer::NoteAttributeName(const char* from, const char* to) {
  HtmlAttribute& a = attribute_;
  std::size_t room =
      a.nameSize < sizeof a.name ? sizeof a.name - a.nameSize : 0;
  for (std::size_t i = 0; i < room && from + i < to; ++i) {
    a.name[a.nameSize + i] = LowerAscii(from[i]);
  }
  a.nameSize =
      std::min<std::size_t>(a.nameSize + (to - from), sizeof a.name + 1);
  a.nameEnd = a.valueStart = a.valueEnd = At(to);
}

void HtmlTokenizer::StartValue(const char* at, char quote) {
  attribute_.valueStart = At(at);
  attribute_.quote = quote;
  attribute_.hasValue = true;
}

void HtmlTokenizer::ValueBytes(const char* from, const char* to) {
  if (from < to)
    watch_->Value(attribute_, std::string_view(from, to - from), At(from));
}

void HtmlTokenizer::EndValue(const char* after) {
  attribute_.valueEnd = At(after);
  watch_->ValueEnd(attribute_);
}

const char* HtmlTokenizer::InComment(const char* p, const char* end,
                                     Stop* stop) {
  const char* upto = FindByte(p, end, '>');
  // Only the last three bytes before a '>' can end the comment.
  if (upto - p >= 3) {
    dashes_ = ownDashes_ = 0;
    bang_ = false;
    p = upto - 3;
  }
  for (; p < upto; ++p) {
    if (*p == '-') {
      dashes_ = std::min(dashes_ + 1, 2);
      ownDashes_ = std::min(ownDashes_ + 1, 2);
      bang_ = false;
    } else {
      bang_ = *p == '!' && ownDashes_ == 2;
      dashes_ = ownDashes_ = 0;
    }
  }
  if (upto == end) return end;
  if (dashes_ == 2 || bang_) {
    *stop = EndMarkup(HtmlToken::Kind::kComment, upto + 1);
  } else {
    dashes_ = ownDashes_ = 0;
    bang_ = false;
  }
  return upto + 1;
}

const char* HtmlTokenizer::InRawText(const char* p, const char* end,
                                     Stop* stop) {
  while (p < end) {
    if (rawMatched_ == 0) {
      p = FindByte(p, end, '<');
      if (p == end) return end;
      rawLt_ = At(p++);
      rawMatched_ = 1;
      continue;
    }
    // "</", the element's name in any case, and a blank, '/' or '>'.
    char c = *p;
    std::size_t k = rawMatched_ - 2;
    if (rawMatched_ == 1 ? c == '/'
                         : k < rawSize_ && LowerAscii(c) == raw_[k]) {
      ++p;
      ++rawMatched_;
      continue;
    }
    bool ends = rawMatched_ == rawSize_ + 2 && EndsName(c);
    rawMatched_ = 0;  // the byte is read again as text, unless it ends
    if (!ends) continue;
    if (TokenReady(HtmlToken::Kind::kRawText, rawStart_, rawLt_)) {
      *stop = Stop::kToken;
    }
    markupStart_ = rawLt_;
    endTag_ = true;
    std::memcpy(name_, raw_, sizeof name_);
    nameSize_ = rawSize_;
    state_ = State::kTagName;
    return p;
  }
  return p;
}

const char* HtmlTokenizer::AfterLessThan(const char* p, const char* end,
                                         Stop* stop) {
  char c = *p;
  if (IsAsciiLetter(static_cast<unsigned char>(c))) {
    BeginTag(false);
    if (BeginMarkup()) {
      *stop = Stop::kToken;
      return p;
    }
    return InTagName(p, end, stop);
  }
  if (c != '/' && c != '!' && c != '?') {
    // A '<' that opens nothing is text.
    if (tokens_) NoteLessThan();
    state_ = State::kText;
    return p;
  }
  state_ = c == '/'   ? State::kEndTagOpen
           : c == '!' ? State::kMarkupOpen
                      : State::kBogusComment;
  dashes_ = 0;
  if (BeginMarkup()) {
    *stop = Stop::kToken;
    return p + 1;
  }
  // An end tag's name, when it is in view, is read at once.
  if (c == '/' && p + 1 < end &&
      IsAsciiLetter(static_cast<unsigned char>(p[1]))) {
    BeginTag(true);
    return InTagName(p + 1, end, stop);
  }
  return p + 1;
}

const char* HtmlTokenizer::InText(const char* p, const char* end, Stop* stop) {
  // Text and the tags between it are read in one loop while nothing stops
  // it.
  do {
    if (skim_) p = SkimTags(p, end);
    const char* upto = FindByte(p, end, '<');
    if (tokens_) NoteText(p, upto);
    p = upto;
    if (p == end) break;
    markupStart_ = At(p++);
    state_ = State::kTagOpen;
    if (p < end) p = AfterLessThan(p, end, stop);
  } while (state_ == State::kText && *stop == Stop::kViewEnd && p < end);
  return p;
}

const char* HtmlTokenizer::InDeclaration(const char* p, const char* end,
                                         Stop* stop) {
  if (state_ == State::kMarkupOpen) {
    if (*p != '-') {
      state_ = State::kBogusComment;
      return p;
    }
    if (++dashes_ == 2) {  // "<!--": its dashes count towards "-->"
      state_ = State::kComment;
      ownDashes_ = 0;
      bang_ = false;
    }
    return p + 1;
  }
  p = FindByte(p, end, '>');
  if (p == end) return end;
  *stop = EndMarkup(HtmlToken::Kind::kComment, p + 1);
  return p + 1;
}

HtmlTokenizer::Stop HtmlTokenizer::Run(std::string_view view,
                                       std::uint64_t base, std::size_t* taken) {
  view_ = view.data();
  base_ = base;
  const char* p = view.data();
  const char* end = p + view.size();
  Stop stop = Stop::kViewEnd;
  while (p < end && stop == Stop::kViewEnd) {
    switch (state_) {
      case State::kText:
        p = InText(p, end, &stop);
        break;
      case State::kTagOpen:
        p = AfterLessThan(p, end, &stop);
        break;
      case State::kEndTagOpen:  // "</" and no letter reads as a comment
        if (IsAsciiLetter(static_cast<unsigned char>(*p))) {
          BeginTag(true);
        } else {
          state_ = State::kBogusComment;
        }
        break;
      case State::kTagName:
        p = InTagName(p, end, &stop);
        break;
      case State::kMarkupOpen:
      case State::kBogusComment:
        p = InDeclaration(p, end, &stop);
        break;
      case State::kComment:
        p = InComment(p, end, &stop);
        break;
      case State::kRawText:
        p = InRawText(p, end, &stop);
        break;
      case State::kPlaintext:
      case State::kDone:
        p = end;
        break;
      default:
        p = InTag(p, end, &stop);
        break;
    }
  }
  *taken = static_cast<std::size_t>(p - view.data());
  return stop;
}

bool HtmlTokenizer::Finish() {
  std::uint64_t at = Offset(source_);
  State was = state_;
  state_ = State::kDone;
  switch (was) {
    case State::kTagOpen:  // a lone '<' as the last byte is text
      NoteLessThan();
      [[fallthrough]];
    case State::kText:
      return textStart_ < at &&
             TokenReady(HtmlToken::Kind::kText, textStart_, at);
    case State::kPlaintext:
      return rawStart_ < at &&
             TokenReady(HtmlToken::Kind::kRawText, rawStart_, at);
    case State::kDone:
      return false;
    default:
      break;
  }
  // A read error is said as such: it is no cut.
  if (source_.readError()) return false;
  unended_.at = openedAt_;
  if (inElement_) {
    unended_.element.assign(raw_, std::min(rawSize_, sizeof raw_));
    bool shown = unended_.element == "title" || unended_.element == "textarea";
    unended_.kind = shown ? Cut::kElementText : Cut::kElement;
  } else if (was == State::kMarkupOpen || was == State::kComment ||
             was == State::kBogusComment) {
    unended_.kind = Cut::kComment;
  } else {
    unended_.kind = Cut::kTag;
  }
  return false;
}

HtmlToken HtmlTokenizer::Next() {
  for (;;) {
    if (state_ == State::kDone) {
      HtmlToken end;
      end.start = end.end =
          unended_.kind != Cut::kNone ? unended_.at : Offset(source_);
      return end;
    }
    std::string_view view = Ahead(source_);
    if (view.empty()) {
      if (Finish()) return token_;
      continue;
    }
    std::size_t taken = 0;
    Stop stop = Run(view, Offset(source_), &taken);
    Skip(source_, taken);
    if (stop == Stop::kToken) return token_;
  }
}

void HtmlTokenizer::ReadFrom(std::uint64_t offset) {
  SeekTo(source_, offset);
  state_ = State::kText;
  inElement_ = false;
  unended_ = Unended();
  ResetText(offset);
}

void HtmlTokenizer::PassTo(std::uint64_t to, Sink& out) {
  while (Offset(source_) < to) {
    std::string_view view = Ahead(source_);
    if (view.empty()) break;
    auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(view.size(), to - Offset(source_)));
    out.Write(view.data(), n);
    Skip(source_, n);
  }
}

void HtmlTokenizer::Copy(std::uint64_t from, std::uint64_t to, Sink& out) {
  SeekTo(source_, from);
  PassTo(to, out);
  ReadFrom(to);
}

std::uint64_t HtmlTokenizer::SafeEnd() const {
  switch (state_) {
    case State::kText:
    case State::kPlaintext:
    case State::kDone:
      return Offset(source_);
    case State::kTagOpen:
      return markupStart_;
    default:
      return openedAt_;
  }
}

void HtmlTokenizer::WriteUpTo(std::uint64_t to) {
  if (to <= copied_) return;
  if (lost_) {
    // Markup that left the kept bytes has ended: it is read again.
    std::uint64_t here = Offset(source_);
    SeekTo(source_, copied_, &lostMark_);
    PassTo(to, *copy_);
    SeekTo(source_, here);
    lost_ = false;
  } else {
    std::string_view behind = Behind(source_, copied_);
    copy_->Write(behind.data(),
                 static_cast<std::size_t>(
                     std::min<std::uint64_t>(behind.size(), to - copied_)));
  }
  copied_ = to;
}

std::uint64_t HtmlTokenizer::CopyToBodyEnd(Sink& out) {
  copy_ = &out;
  tokens_ = false;
  skim_ = watch_ == nullptr;
  copied_ = Offset(source_);
  lost_ = false;
  std::uint64_t end = kFileEnd;
  while (end == kFileEnd) {
    std::uint64_t safe = SafeEnd();
    WriteUpTo(safe);
    // Markup still open keeps its bytes in view; a longer one is read
    // again from the block it began in once it has ended.
    BlockMark mark = MarkBefore(source_, safe);
    std::string_view view = AheadKeeping(source_, safe);
    if (!lost_ && safe < Offset(source_) &&
        Behind(source_, safe).size() != Offset(source_) - safe) {
      lost_ = true;
      lostMark_ = mark;
    }
    if (view.empty()) {
      Finish();
      end = unended_.kind != Cut::kNone ? unended_.at : Offset(source_);
      break;
    }
    std::size_t taken = 0;
    Stop stop = Run(view, Offset(source_), &taken);
    Skip(source_, taken);
    if (stop == Stop::kBodyEnd) end = markupStart_;
    if (stop == Stop::kRecopy) WriteUpTo(SafeEnd());
  }
  WriteUpTo(end);
  copy_ = nullptr;
  tokens_ = true;
  skim_ = false;
  return end;
}

PageParts FindPageParts(HtmlTokenizer& page, const PartSeen& seen) {
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
    if (seen) seen(t, phase == Phase::kInHead);
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

TemplateLandmarks FindTemplateLandmarks(HtmlTokenizer& templ,
                                        const FrameSeen& seen) {
  TemplateLandmarks marks;
  bool head = false;
  bool body = false;
  for (HtmlToken t = templ.Next(); t.kind != HtmlToken::Kind::kEnd;
       t = templ.Next()) {
    if (seen) {
      seen(t, !head   ? FramePart::kBeforeHead
              : !body ? FramePart::kHead
                      : FramePart::kBody);
    }
    if (!head) {
      if (t.IsStartTag("body")) break;  // a body tag before any head tag
      if (t.IsStartTag("head")) {
        marks.headTag = t.start;
        head = true;
      }
    } else if (!body) {
      if (t.IsStartTag("body")) {
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

void Transfer(Source& in, std::uint64_t from, std::uint64_t to, Sink& out) {
  for (std::string_view ahead = Ahead(in); !ahead.empty() && Offset(in) < to;
       ahead = Ahead(in)) {
    std::uint64_t at = Offset(in);
    std::uint64_t until = at < from ? from : to;
    auto n = static_cast<std::size_t>(
        std::min<std::uint64_t>(ahead.size(), until - at));
    if (at >= from) out.Write(ahead.data(), n);
    Skip(in, n);
  }
}
