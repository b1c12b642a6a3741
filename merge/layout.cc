#include "merge/layout.h"

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "merge/html_chars.h"

namespace {

// The head of an attribute's value, in lower case, and how long it is.
struct Captured {
  static constexpr std::size_t kRoom = 256;
  bool present = false;
  std::string text;
  std::uint64_t size = 0;

  void Append(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size() && text.size() < kRoom; ++i) {
      text += LowerAscii(bytes[i]);
    }
    size += bytes.size();
  }
  bool Equals(std::string_view s) const {
    return size == s.size() && text == s;
  }
};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsHtmlBlank(static_cast<unsigned char>(s.front()))) {
    s.remove_prefix(1);
  }
  while (!s.empty() && IsHtmlBlank(static_cast<unsigned char>(s.back()))) {
    s.remove_suffix(1);
  }
  return s;
}

// The character set a content-type's value names: after "charset", blanks,
// '=' and blanks, a quoted name or one up to a blank or ';'.
std::string CharsetInContent(std::string_view content) {
  for (std::size_t at = content.find("charset"); at != std::string_view::npos;
       at = content.find("charset", at + 1)) {
    std::string_view rest = TrimBlanks(content.substr(at + 7));
    if (rest.empty() || rest.front() != '=') continue;
    rest = TrimBlanks(rest.substr(1));
    if (rest.empty()) return "";
    char quote = rest.front();
    if (quote == '"' || quote == '\'') {
      std::size_t close = rest.find(quote, 1);
      return close == std::string_view::npos
                 ? ""
                 : std::string(rest.substr(1, close - 1));
    }
    std::size_t stop = 0;
    while (stop < rest.size() && rest[stop] != ';' &&
           !IsHtmlBlank(static_cast<unsigned char>(rest[stop]))) {
      ++stop;
    }
    return std::string(rest.substr(0, stop));
  }
  return "";
}

// The attributes of the tag being read that the layout mode looks at: the
// first of each name counts, as in a browser.
class TagAttributes : public AttributeWatch {
 public:
  // True when the attributes are those of the tag token `t`.
  bool Of(const HtmlToken& t) const { return seen_ && tag_ == t.start; }

  // A meta tag that declares a character set; `name` gets the set it names.
  bool Declares(const HtmlToken& t, std::string* name) const {
    if (!t.IsStartTag("meta") || !Of(t)) return false;
    if (charset_.present) {
      *name = std::string(TrimBlanks(charset_.text));
      return true;
    }
    if (!httpEquiv_.Equals("content-type")) return false;
    *name = content_.present ? CharsetInContent(content_.text) : "";
    return true;
  }
  bool HasHref(const HtmlToken& t) const { return Of(t) && href_; }
  const AttributeSpan& lang() const { return lang_; }
  const AttributeSpan& dir() const { return dir_; }

  void Name(const HtmlAttribute& a) override {
    if (!seen_ || a.tag != tag_) Reset(a.tag);
    span_ = nullptr;
    captured_ = nullptr;
    if (a.endTag) return;
    if (a.Is("href")) href_ = true;
    AttributeSpan* span = a.Is("lang") ? &lang_ : a.Is("dir") ? &dir_ : nullptr;
    if (span != nullptr && !span->present) {
      span->present = true;
      span->nameEnd = span->valueStart = span->valueEnd = a.nameEnd;
      span_ = span;
    }
    Captured* c = a.Is("charset")      ? &charset_
                  : a.Is("http-equiv") ? &httpEquiv_
                  : a.Is("content")    ? &content_
                                       : nullptr;
    if (c != nullptr && !c->present) {
      c->present = true;
      captured_ = c;
    }
  }
  void Value(const HtmlAttribute&, std::string_view bytes,
             std::uint64_t) override {
    if (captured_ != nullptr) captured_->Append(bytes);
  }
  void ValueEnd(const HtmlAttribute& a) override {
    if (span_ == nullptr) return;
    span_->hasValue = true;
    span_->valueStart = a.valueStart;
    span_->valueEnd = a.valueEnd;
  }

 private:
  // The attributes are now those of the tag at `tag`.
  void Reset(std::uint64_t tag) {
    seen_ = true;
    tag_ = tag;
    href_ = false;
    lang_ = dir_ = AttributeSpan();
    charset_ = httpEquiv_ = content_ = Captured();
  }

  bool seen_ = false;
  std::uint64_t tag_ = 0;
  bool href_ = false;
  AttributeSpan lang_;
  AttributeSpan dir_;
  Captured charset_;
  Captured httpEquiv_;
  Captured content_;
  AttributeSpan* span_ = nullptr;
  Captured* captured_ = nullptr;
};

// Notes the template's first title element in its head.
void NoteTitle(const HtmlToken& t, TemplateFrame* frame, bool* inTitle) {
  if (frame->hasTitle && !*inTitle) return;
  if (!frame->hasTitle && t.IsStartTag("title")) {
    frame->hasTitle = *inTitle = true;
    frame->titleStart = t.start;
  } else if (*inTitle && t.IsEndTag("title")) {
    frame->titleEnd = t.end;
    *inTitle = false;
  }
}

// An edit of the template at [from, to): what stands there is left out and
// `write` writes what takes its place.
struct Edit {
  std::uint64_t from;
  std::uint64_t to;
  std::function<void()> write;
};

// Writes the template from a second reading of it, with its edits: those
// known before the writing, and the link prefixes found as it is read.
// Edits come in the order of the characters they stand at.
class LayoutWriter {
 public:
  LayoutWriter(Source& templ, Sink& out) : templ_(templ), out_(out) {}

  void Add(Edit edit) { edits_.push_back(std::move(edit)); }
  // Writes `text` before the character at `at`, unless an edit has left it
  // out.
  void Insert(std::uint64_t at, std::string_view text) {
    EditUpTo(at);
    if (at < written_) return;
    CopyTo(at);
    out_.Write(text);
  }
  void Finish() {
    EditUpTo(kFileEnd);
    CopyTo(kFileEnd);
  }
  // Makes the edits run in order; those at one place in the order added.
  void Sort() {
    std::stable_sort(
        edits_.begin(), edits_.end(),
        [](const Edit& a, const Edit& b) { return a.from < b.from; });
  }

 private:
  void CopyTo(std::uint64_t at) {
    if (at <= written_) return;
    Transfer(templ_, written_, at, out_);
    written_ = at;
  }
  void EditUpTo(std::uint64_t at) {
    for (; next_ < edits_.size() && edits_[next_].from <= at; ++next_) {
      const Edit& e = edits_[next_];
      CopyTo(e.from);
      e.write();
      written_ = std::max(written_, e.to);
    }
  }

  Source& templ_;
  Sink& out_;
  std::vector<Edit> edits_;
  std::size_t next_ = 0;
  std::uint64_t written_ = 0;  // the template is written or left out up to here
};

// Finds the relative URLs of the template's tags and puts `prefix` before
// each: the URL attributes' values, and each candidate of a srcset.
class Rebase : public AttributeWatch {
 public:
  Rebase(LayoutWriter& writer, std::uint64_t cut, std::string prefix)
      : writer_(writer), cut_(cut), prefix_(std::move(prefix)) {}

  void Name(const HtmlAttribute& a) override {
    kind_ = a.tag >= cut_       ? Kind::kNone
            : a.Is("srcset")    ? Kind::kSrcset
            : IsUrlAttribute(a) ? Kind::kUrl
                                : Kind::kNone;
    state_ = State::kBlanks;
  }
  void Value(const HtmlAttribute&, std::string_view bytes,
             std::uint64_t at) override {
    if (kind_ == Kind::kNone) return;
    for (std::size_t i = 0; i < bytes.size(); ++i) Take(bytes[i], at + i);
  }
  void ValueEnd(const HtmlAttribute&) override {
    if (kind_ != Kind::kNone && state_ == State::kScheme) Relative();
    kind_ = Kind::kNone;
  }

 private:
  enum class Kind { kNone, kUrl, kSrcset };
  enum class State {
    kBlanks,  // before the URL
    kScheme,  // in what may be a scheme, from urlStart_
    kPassed,  // after the URL's start (in a srcset, up to its next ',')
  };

  static bool IsUrlAttribute(const HtmlAttribute& a) {
    for (std::string_view n : {"href", "src", "action", "formaction", "poster",
                               "data", "background"}) {
      if (a.Is(n)) return true;
    }
    return false;
  }
  void Relative() { writer_.Insert(urlStart_, prefix_); }
  void Take(char c, std::uint64_t at) {
    bool srcset = kind_ == Kind::kSrcset;
    bool blank = IsHtmlBlank(static_cast<unsigned char>(c));
    switch (state_) {
      case State::kBlanks:
        if (blank || (srcset && c == ',')) return;
        urlStart_ = at;
        if (IsAsciiLetter(static_cast<unsigned char>(c))) {
          state_ = State::kScheme;
          return;
        }
        if (c != '/' && c != '#' && c != '?') Relative();
        state_ = State::kPassed;
        return;
      case State::kScheme:
        if (c == ':') {
          state_ = State::kPassed;
          return;
        }
        if (IsAsciiLetter(static_cast<unsigned char>(c)) ||
            (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') {
          return;
        }
        Relative();
        state_ = srcset && c == ',' ? State::kBlanks : State::kPassed;
        return;
      case State::kPassed:
        if (srcset && c == ',') state_ = State::kBlanks;
        return;
    }
  }

  LayoutWriter& writer_;
  std::uint64_t cut_;
  std::string prefix_;
  Kind kind_ = Kind::kNone;
  State state_ = State::kBlanks;
  std::uint64_t urlStart_ = 0;
};

// Writes the page's head elements: its head part without its own head tag
// and closing head tag, and without its declarations of a character set
// when the template has one. The tokenizer reads the head part again to
// find them; the second source writes what lies between.
void WriteHeadElements(const LayoutFiles& files, const PageParts& parts,
                       bool dropDeclarations, Sink& out) {
  HtmlTokenizer& page = files.page;
  TagAttributes attributes;
  page.ReadFrom(parts.headStart);
  page.Watch(&attributes);
  std::uint64_t from = parts.headStart;
  std::string name;
  for (HtmlToken t = page.Next();
       t.kind != HtmlToken::Kind::kEnd && t.start < parts.headEnd;
       t = page.Next()) {
    bool own = (t.start == parts.headStart && t.IsStartTag("head")) ||
               (t.end == parts.headEnd && t.IsEndTag("head"));
    if (own || (dropDeclarations && attributes.Declares(t, &name))) {
      Transfer(files.pageCopy, from, t.start, out);
      from = t.end;
    }
  }
  page.Watch(nullptr);
  Transfer(files.pageCopy, from, parts.headEnd, out);
}

// Puts the page's `name` attribute (lang or dir) on the template's html tag.
void AddAttributeEdit(LayoutWriter& writer, const LayoutFiles& files,
                      const TemplateFrame& templ, std::string_view name,
                      const AttributeSpan& theirs, const AttributeSpan& ours,
                      Sink& out) {
  if (!templ.hasHtmlTag || !ours.hasValue) return;
  HtmlTokenizer& page = files.page;
  auto value = [&page, ours, &out] {
    page.Copy(ours.valueStart, ours.valueEnd, out);
  };
  if (theirs.hasValue) {
    writer.Add({theirs.valueStart, theirs.valueEnd, value});
  } else if (theirs.present) {
    writer.Add({theirs.nameEnd, theirs.nameEnd, [value, &out] {
                  out.Write("=");
                  value();
                }});
  } else {
    std::uint64_t at = templ.htmlTag + 5;  // after "<html"
    std::string head = " " + std::string(name) + "=";
    writer.Add({at, at, [value, head, &out] {
                  out.Write(head);
                  value();
                }});
  }
}

}  // namespace

TemplateFrame FindTemplateFrame(HtmlTokenizer& templ) {
  TemplateFrame frame;
  TagAttributes attributes;
  bool headEnded = false;
  bool inTitle = false;
  templ.Watch(&attributes);
  auto seen = [&](const HtmlToken& t, FramePart part) {
    if (part != FramePart::kBody && !frame.hasHtmlTag && t.IsStartTag("html")) {
      frame.hasHtmlTag = true;
      frame.htmlTag = t.start;
      if (attributes.Of(t)) {
        frame.lang = attributes.lang();
        frame.dir = attributes.dir();
      }
    }
    if (part != FramePart::kHead || headEnded) return;
    if (t.IsEndTag("head") || t.IsStartTag("body")) {
      frame.headEnd = t.start;
      headEnded = true;
      return;
    }
    NoteTitle(t, &frame, &inTitle);
    std::string name;
    if (!frame.declares && attributes.Declares(t, &name)) {
      frame.declares = true;
      frame.charset = name;
    }
    if (t.IsStartTag("base") && attributes.HasHref(t)) frame.based = true;
  };
  frame.marks = FindTemplateLandmarks(templ, seen);
  // Its tags after the marker are rebased too, unless the file ends
  // inside one.
  while (templ.Next().kind != HtmlToken::Kind::kEnd) {
  }
  templ.Watch(nullptr);
  if (templ.unended().kind != Cut::kNone) frame.cut = templ.unended().at;
  return frame;
}

PageFrame FindPageFrame(HtmlTokenizer& page, const TemplateFrame& templ) {
  PageFrame frame;
  TagAttributes attributes;
  bool htmlSeen = false;
  std::uint64_t titleAt = kFileEnd;
  page.Watch(&attributes);
  auto seen = [&](const HtmlToken& t, bool inHead) {
    if (!htmlSeen && t.IsStartTag("html")) {
      htmlSeen = true;
      if (attributes.Of(t)) {
        frame.lang = attributes.lang();
        frame.dir = attributes.dir();
      }
    }
    if (!inHead) return;
    if (t.IsStartTag("title")) titleAt = std::min(titleAt, t.start);
    std::string name;
    if (templ.declares && frame.clash.at == kFileEnd &&
        attributes.Declares(t, &name) && !name.empty() &&
        !templ.charset.empty() && name != templ.charset) {
      frame.clash = {t.start, name, templ.charset};
    }
  };
  frame.parts = FindPageParts(page, seen);
  page.Watch(nullptr);
  // A title the file ends inside is cut from the head part.
  frame.hasTitle = titleAt < frame.parts.headEnd;
  return frame;
}

Findings MergeLayout(const LayoutFiles& files, const TemplateFrame& templ,
                     const PageFrame& page, int depth, Sink& out) {
  const PageParts& parts = page.parts;
  // A page read to its end without a body part may have been cut short.
  const Unended cut = files.page.unended();
  LayoutWriter writer(files.templCopy, out);
  AddAttributeEdit(writer, files, templ, "lang", templ.lang, page.lang, out);
  AddAttributeEdit(writer, files, templ, "dir", templ.dir, page.dir, out);
  if (page.hasTitle && templ.hasTitle) {
    writer.Add({templ.titleStart, templ.titleEnd, [] {}});
  }
  bool dropDeclarations = templ.declares;
  writer.Add({templ.headEnd, templ.headEnd, [&] {
                if (parts.headEnd > parts.headStart) {
                  WriteHeadElements(files, parts, dropDeclarations, out);
                }
              }});
  std::uint64_t marker = templ.marks.marker;
  std::uint64_t bodyEnd = parts.bodyStart;
  writer.Add({marker, marker + 4, [&] {
                if (parts.bodyStart == kFileEnd) return;
                files.page.ReadFrom(parts.bodyStart);
                bodyEnd = files.page.CopyToBodyEnd(out);
              }});
  writer.Sort();
  if (depth > 0 && !templ.based) {
    std::string prefix;
    for (int i = 0; i < depth; ++i) prefix += "../";
    Rebase rebase(writer, templ.cut, prefix);
    files.templ.ReadFrom(0);
    files.templ.Watch(&rebase);
    while (files.templ.Next().kind != HtmlToken::Kind::kEnd) {
    }
    files.templ.Watch(nullptr);
  }
  writer.Finish();
  Findings found;
  found.pageCut = cut.kind != Cut::kNone ? cut : files.page.unended();
  found.charset = page.clash;
  if (bodyEnd == parts.bodyStart &&
      (parts.hasText ||
       (parts.bodyStart != kFileEnd && HasTextAhead(files.page)))) {
    found.page.kind = Missing::kBodyContent;
  }
  return found;
}
