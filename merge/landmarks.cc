#include "merge/landmarks.h"

#include <algorithm>
#include <string_view>

#include "merge/scan.h"
#include "platform/text.h"

namespace {

// How much of a near miss the warning quotes, in characters.
constexpr std::size_t kQuoteLength = 20;

const char kGluedBefore[] = "the tag must stand after a blank or a line end";
const char kHiddenByTag[] =
    "a tag before it in the same word hides it: put a blank or a line end "
    "before it";
const char kLetterCase[] = "the tag must be all in lower or all in upper case";
const char kHeadInside[] =
    "the tag must be exactly <head>, with nothing inside";
const char kHeadEndInside[] =
    "the tag must be exactly </head>, with nothing inside";
const char kGluedAfter[] = "the tag must be followed by a blank or a line end";
const char kUnclosed[] = "no '>' ever closes it";
const char kFiveHashes[] = "the marker must be exactly four '#'";
const char kHashBefore[] =
    "a '#' before it in the same word hides it: put a blank or a line end "
    "before it";
const char kLoneHash[] = "a lone '#' before it hides it";
const char kMarkerGlued[] =
    "the marker must be followed by a blank or a line end";

// The bytes of a source one at a time, with a few ahead in view.
class Reader {
 public:
  explicit Reader(Source& in) : in_(in) {}

  // The byte `k` places ahead, or kEndOfInput past the end.
  int Peek(std::size_t k) {
    while (buffer_.size() - head_ <= k) {
      std::string_view ahead = Ahead(in_);
      if (ahead.empty()) return kEndOfInput;
      std::size_t n = std::min<std::size_t>(ahead.size(), kChunk);
      buffer_.append(ahead.data(), n);
      Skip(in_, n);
    }
    return static_cast<unsigned char>(buffer_[head_ + k]);
  }

  void Next() {
    if (++head_ >= kChunk) {
      buffer_.erase(0, head_);
      head_ = 0;
    }
  }

 private:
  static constexpr std::size_t kChunk = 4096;
  Source& in_;
  std::string buffer_;
  std::size_t head_ = 0;
};

bool Blank(int c) {
  return c == kEndOfInput || IsWhitespace(static_cast<unsigned char>(c));
}

char Lower(int c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// What a phase's landmark looks like to the search for its near misses.
struct Pattern {
  bool marker = false;
  bool copyLoop = false;  // found after a trigger taken alone, not as a word
  bool closing = false;   // "</name"
  const char* name = "";  // "head" or "body"
  const char* inside = nullptr;  // reason when the tag may hold nothing more
};

Pattern PatternOf(Role role, Missing kind) {
  Pattern p;
  switch (kind) {
    case Missing::kHeadTag:
      p.copyLoop = role == Role::kTemplate;
      p.name = "head";
      p.inside = kHeadInside;
      break;
    case Missing::kHeadEnd:
      p.copyLoop = p.closing = true;
      p.name = "head";
      p.inside = kHeadEndInside;
      break;
    case Missing::kBodyEnd:
      p.copyLoop = p.closing = true;
      p.name = "body";
      break;
    case Missing::kMarker:
      p.marker = true;
      break;
    default:
      p.name = "body";
      break;
  }
  return p;
}

// Where the scan stands: what came before the byte looked at.
struct ScanState {
  bool atStart = true;
  bool runHasLt = false;    // an earlier '<' in this run of non-blanks
  bool runHasHash = false;  // an earlier '#' in it
  bool lastRunWasLoneHash = false;
  std::size_t runLength = 0;
  int runFirst = 0;
  int previous = kEndOfInput;

  void Pass(int c) {
    if (Blank(c)) {
      if (runLength > 0) lastRunWasLoneHash = runLength == 1 && runFirst == '#';
      runLength = 0;
      runHasLt = runHasHash = false;
    } else {
      if (runLength++ == 0) runFirst = c;
      runHasLt |= c == '<';
      runHasHash |= c == '#';
    }
    previous = c;
    atStart = false;
  }
};

// Why the tag at the '<' just ahead is not the landmark, or null when it is
// no such tag or is the landmark itself.
const char* TagMiss(Reader& r, const ScanState& s, const Pattern& p,
                    bool wantExact) {
  std::size_t k = 1;
  if (p.closing && r.Peek(k++) != '/') return nullptr;
  int lowers = 0;
  int uppers = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    int c = r.Peek(k + i);
    if (c == kEndOfInput || Lower(c) != p.name[i]) return nullptr;
    (c == p.name[i] ? lowers : uppers)++;
  }
  int end = r.Peek(k + 4);
  if (!Blank(end) && end != '>' && end != '/') return nullptr;  // <header>
  const char* reason = nullptr;
  if (p.copyLoop ? s.runHasLt : !(s.atStart || Blank(s.previous))) {
    reason = p.copyLoop ? kHiddenByTag : kGluedBefore;
  } else if (lowers != 4 && uppers != 4) {
    reason = kLetterCase;
  } else if (p.inside != nullptr && end != '>') {
    reason = p.inside;
  } else if (end == '/' || (end == '>' && !Blank(r.Peek(k + 5)))) {
    reason = kGluedAfter;
  }
  if (wantExact) return reason == nullptr && Blank(end) ? kUnclosed : nullptr;
  return reason;
}

// Why the run of '#' just ahead is not the marker, or null.
const char* MarkerMiss(Reader& r, const ScanState& s) {
  if (s.previous == '#') return nullptr;
  std::size_t hashes = 0;
  while (hashes < 5 && r.Peek(hashes) == '#') ++hashes;
  if (hashes < 4) return nullptr;
  if (hashes == 5) return kFiveHashes;
  if (s.runHasHash) return kHashBefore;
  if (s.runLength == 0 && s.lastRunWasLoneHash) return kLoneHash;
  return Blank(r.Peek(4)) ? nullptr : kMarkerGlued;
}

// The line ahead, cut to kQuoteLength characters, "..." when it goes on.
std::string QuoteAhead(Reader& r) {
  std::string line;
  for (std::size_t k = 0; k < 4 * kQuoteLength; ++k) {
    int c = r.Peek(k);
    if (c == kEndOfInput || c == '\n') break;
    line += static_cast<char>(c);
  }
  std::string quote = CutName(line, kQuoteLength);
  if (quote.size() < line.size()) quote += "...";
  return ShownName(quote);
}

// What a warning says of a landmark: that it was not found, and what became
// of the page when the page or the template lacked it.
struct Said {
  const char* notFound;
  const char* page;
  const char* templ;
};

const Said& SaidOf(Missing kind) {
  // In the order of Missing.
  static const Said kSaid[] = {
      {"", "", ""},
      {"no head tag found", "nothing of the page was merged",
       "the page follows the end of the template, with no body tag"},
      {"no closing head tag found", "the page's body was merged into its head",
       ""},
      {"no body tag found", "the page's body was dropped",
       "the template's frame after its head was dropped"},
      {"the body tag is never closed by '>'", "",
       "the rest of the template and the page's body ended up inside it"},
      {"no closing body tag found",
       "the page's tail after its body was copied into the frame", ""},
      {"no marker #### found", "",
       "the page's body follows the end of the template"},
      {"no body content found", "the merged page has an empty body", ""},
  };
  return kSaid[static_cast<int>(kind)];
}

}  // namespace

bool LosesContent(Role role, Missing kind) {
  if (role == Role::kPage) {
    return kind == Missing::kHeadTag || kind == Missing::kBodyTag;
  }
  return kind == Missing::kBodyTag || kind == Missing::kBodyTagUnclosed;
}

NearMiss FindNearMiss(Source& in, Role role, Missing kind, std::uint64_t from) {
  if (kind == Missing::kBodyContent) return NearMiss();
  const Pattern p = PatternOf(role, kind);
  Reader r(in);
  ScanState s;
  NearMiss miss;
  std::uint64_t line = 1;
  std::uint64_t column = 1;
  for (std::uint64_t at = 0;; ++at) {
    int c = r.Peek(0);
    if (c == kEndOfInput) return miss;
    if (at >= from) {
      const char* reason = nullptr;
      if (p.marker && c == '#') reason = MarkerMiss(r, s);
      if (!p.marker && c == '<') {
        reason = TagMiss(r, s, p, kind == Missing::kBodyTagUnclosed);
      }
      if (reason != nullptr) {
        miss.found = true;
        miss.line = line;
        miss.column = column;
        miss.quote = QuoteAhead(r);
        miss.reason = reason;
        return miss;
      }
    }
    column = c == '\n' ? 1 : column + 1;
    if (c == '\n') ++line;
    s.Pass(c);
    r.Next();
  }
}

std::string Warning(const std::string& shownName, Role role, Missing kind,
                    const NearMiss& miss, bool htmlKeeps) {
  const Said& said = SaidOf(kind);
  std::string line = WarningHead(shownName, miss, LosesContent(role, kind)) +
                     said.notFound + ", so " +
                     (role == Role::kPage ? said.page : said.templ);
  if (miss.found) {
    line += " (\"" + miss.quote + "\" - " + miss.reason + ")";
  }
  if (htmlKeeps) line += "; with --html the page keeps its content";
  return line;
}

std::string WarningHead(const std::string& shownName, const NearMiss& at,
                        bool error) {
  std::string head = shownName;
  if (at.found) {
    head += ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
  }
  return head + (error ? ": error: " : ": warning: ");
}

std::string NotFound(Missing kind) { return SaidOf(kind).notFound; }

std::string CharsetWarning(const std::string& shownName,
                           const CharsetClash& clash, const NearMiss& at) {
  return WarningHead(shownName, at, false) +
         "the page declares the character set \"" + ShownName(clash.page) +
         "\", but the template declares \"" + ShownName(clash.templ) +
         "\"; the page's declaration was left out";
}

NearMiss FindPlace(Source& in, std::uint64_t offset) {
  Reader r(in);
  NearMiss place;
  place.line = 1;
  place.column = 1;
  for (std::uint64_t at = 0; at < offset; ++at) {
    int c = r.Peek(0);
    if (c == kEndOfInput) return place;
    place.column = c == '\n' ? 1 : place.column + 1;
    if (c == '\n') ++place.line;
    r.Next();
  }
  place.found = true;
  place.quote = QuoteAhead(r);
  return place;
}

std::string CutWarning(const std::string& shownName, const Unended& cut,
                       const NearMiss& at) {
  std::string what = cut.kind == Cut::kTag ? "a tag"
                     : cut.kind == Cut::kComment
                         ? "a comment"
                         : "a <" + cut.element + "> element";
  std::string line = WarningHead(shownName, at, false) +
                     "the page ends inside " + what + ", so " +
                     (cut.kind == Cut::kElementText ? "its text" : "it") +
                     " and what follows were dropped";
  if (at.found) {
    std::string closer = cut.kind == Cut::kTag       ? "its '>'"
                         : cut.kind == Cut::kComment ? "its end"
                                                     : "</" + cut.element + ">";
    line += " (\"" + at.quote + "\" - the file ends before " + closer + ")";
  }
  return line;
}
