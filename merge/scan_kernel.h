// Inside the scanner: what a kernel computes for 64 bytes, the walk over a
// view written once over those masks, and each kernel's entry points. Only
// the scanner's own files include this.
#ifndef MERGE_SCAN_KERNEL_H_
#define MERGE_SCAN_KERNEL_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "merge/html_chars.h"
#include "merge/scan.h"

// What a copy loop needs to know of up to 64 bytes, a bit for each byte.
struct WindowMasks {
  std::uint64_t triggers = 0;  // the trigger
  std::uint64_t blanks = 0;    // whitespace
  std::uint64_t firsts = 0;    // a byte a stop word may begin with
  std::uint64_t seconds = 0;   // a byte that may come second in one
};

// The masks of data[0, size), size at most 64, byte by byte: the plain
// kernel, and every kernel's answer for a window shorter than 64 bytes.
WindowMasks PlainMasks(const char* data, std::size_t size, char trigger,
                       const StopStarts& starts);

// Each kernel's entry points. The x86-64 ones exist only where the build
// has them (see scan.cc).
std::size_t FindWhitespacePlain(const char* data, std::size_t size);
std::size_t FindWhitespaceSse2(const char* data, std::size_t size);
const char* FindStopPlain(const char* begin, const char* end, char trigger,
                          Words stops, const StopStarts& starts, bool* stop);
const char* FindStopSse2(const char* begin, const char* end, char trigger,
                         Words stops, const StopStarts& starts, bool* stop);
const char* FindStopAvx2(const char* begin, const char* end, char trigger,
                         Words stops, const StopStarts& starts, bool* stop);
std::size_t FindNameEndPlain(const char* data, std::size_t size);
std::size_t FindNameEndSse2(const char* data, std::size_t size);

// The walk below, instantiated by each kernel with its own masks and
// whitespace search, so that they inline into it.
using MasksFunction = WindowMasks (*)(const char*, std::size_t, char,
                                      const StopStarts&);
using WhitespaceFunction = std::size_t (*)(const char*, std::size_t);

// Characters are taken one by one until a trigger; the word after it runs
// to the next whitespace and swallows any trigger in it. So in each run of
// non-whitespace bytes only the first trigger counts (is live), and, as the
// run at the view's start is taken from its start, so it is there too. The
// live triggers of 64 bytes come from one addition: in each run, a bit added
// at the run's start carries through the bytes that are not triggers and
// stops at the first trigger. Only the few live triggers whose next two
// bytes may begin a stop word, or that need the reader, are looked at one
// by one.

// What the walk carries from one window to the next.
struct WalkState {
  bool runGoesOn = false;            // the window before ended in a run...
  bool runIsOpen = true;             // ...that has had no live trigger yet
  const char* swallowing = nullptr;  // a live trigger whose word goes on
};

inline int LowestBit(std::uint64_t x) { return __builtin_ctzll(x); }

// The live triggers among the window's bytes `text` (not whitespace);
// *carryOut says whether the run at the window's end is still open.
inline std::uint64_t LiveTriggers(const WindowMasks& m, std::uint64_t text,
                                  const WalkState& state, bool* carryOut) {
  std::uint64_t runStarts = text & ~((text << 1) | (state.runGoesOn ? 1 : 0));
  if (state.runIsOpen) runStarts |= text & 1;
  std::uint64_t carried;
  *carryOut = __builtin_add_overflow(text & ~m.triggers, runStarts, &carried);
  return carried & m.triggers;
}

// Looks at the live triggers in `look`, in order, for the first that stops
// the loop or needs the reader; null when none does.
template <WhitespaceFunction FindBlank>
inline const char* CheckTriggers(const char* p, const char* end,
                                 const WindowMasks& m, std::uint64_t look,
                                 Words stops, bool* stop) {
  while (look != 0) {
    int i = LowestBit(look);
    look &= look - 1;
    const char* hit = p + i;
    const char* word = hit + 1;
    if (word == end) return hit;
    std::uint64_t after =
        i < 63 ? m.blanks & (~std::uint64_t{0} << (i + 1)) : 0;
    const char* wordEnd =
        after != 0 ? p + LowestBit(after) : word + FindBlank(word, end - word);
    if (wordEnd == word || wordEnd == end) return hit;
    if (IsStopWord(word, wordEnd - word, stops)) {
      *stop = true;
      return hit;
    }
  }
  return nullptr;
}

// The state at the end of a window of `size` bytes, for the next one. A
// run has one live trigger at most, so one can follow the window's last
// blank.
inline void CarryState(const char* p, std::size_t size, const WindowMasks& m,
                       std::uint64_t live, std::uint64_t text, bool carryOut,
                       WalkState& state) {
  std::uint64_t upToLastBlank = m.blanks;
  for (int shift = 1; shift < 64; shift *= 2) {
    upToLastBlank |= upToLastBlank >> shift;
  }
  std::uint64_t liveAtEnd = live & ~upToLastBlank;
  if (liveAtEnd != 0) {
    state.swallowing = p + LowestBit(liveAtEnd);
  } else if (m.blanks != 0) {
    state.swallowing = nullptr;
  }
  state.runGoesOn = (text >> (size - 1)) & 1;
  state.runIsOpen = carryOut;
}

// FindStop over 64-byte windows, with the masks of `MasksOf` and the
// whitespace search of `FindBlank`.
template <MasksFunction MasksOf, WhitespaceFunction FindBlank>
__attribute__((always_inline)) inline const char* WalkWindows(
    const char* begin, const char* end, char trigger, Words stops,
    const StopStarts& starts, bool* stop) {
  *stop = false;
  WalkState state;
  for (const char* p = begin; p < end; p += 64) {
    std::size_t size = std::min<std::size_t>(64, end - p);
    std::uint64_t valid =
        size == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << size) - 1;
    WindowMasks m = MasksOf(p, size, trigger, starts);
    std::uint64_t text = ~m.blanks & valid;
    bool carryOut;
    std::uint64_t live = LiveTriggers(m, text, state, &carryOut);
    // The last two bytes cannot tell what follows them: always looked at.
    std::uint64_t nearEnd = size >= 2 ? std::uint64_t{3} << (size - 2) : valid;
    std::uint64_t look = live & (((m.firsts >> 1) & (m.seconds >> 2)) |
                                 (m.blanks >> 1) | nearEnd);
    const char* hit = CheckTriggers<FindBlank>(p, end, m, look, stops, stop);
    if (hit != nullptr) return hit;
    CarryState(p, size, m, live, text, carryOut, state);
  }
  // A word that runs to the end of the view may go on past it.
  return state.swallowing;
}

// What SkimTags needs to know of 64 bytes, a bit for each byte. A kernel
// sets every field.
struct TagMasks {
  std::uint64_t lt;       // '<'
  std::uint64_t gt;       // '>'
  std::uint64_t double_;  // '"'
  std::uint64_t single;   // '\''
  std::uint64_t equals;   // '='
  std::uint64_t spaces;   // the blanks of HTML and '/': what lies
                          // between a tag's attributes
  std::uint64_t slash;    // '/'
  std::uint64_t letters;  // ASCII letters
};

// Each kernel's masks of `windows` windows of 64 bytes from `data`, one
// after the other, into out[0, windows): a block at a time, so that the walk
// over them is written once, for every processor.
constexpr int kTagWindows = 16;
using TagMasksFunction = void (*)(const char* data, int windows, TagMasks* out);
void PlainTagMasks(const char* data, int windows, TagMasks* out);
void Sse2TagMasks(const char* data, int windows, TagMasks* out);
void Avx2TagMasks(const char* data, int windows, TagMasks* out);
void Avx512TagMasks(const char* data, int windows, TagMasks* out);

// SkimTags over the masks of `masksOf`.
const char* WalkTags(const char* p, const char* end, TagMasksFunction masksOf);

// The bits of a mask from `i` on, for i up to 64; none from 64 on.
inline std::uint64_t From(int i) {
  return (~std::uint64_t{0} << (i & 63)) & (std::uint64_t{0} - (i < 64));
}

// The lowest bit of `x` alone, and the bits above it.
inline std::uint64_t LowBit(std::uint64_t x) { return x & (0 - x); }
inline std::uint64_t Above(std::uint64_t bit) { return 0 - (bit << 1); }

// The runs of `runs` from each of `seeds` upwards: a bit is set when a seed
// is at or below it in its run. Each run may hold one seed; with more, the
// bits above the second are missing, which SkimTags tells by the seeds.
inline std::uint64_t RunsFrom(std::uint64_t seeds, std::uint64_t runs) {
  return runs & ~(runs + seeds);
}

// What the walk over windows carries from one to the next: the '<' of a
// tag that runs on into the next window, a value of it that does, and the
// last bytes of the window, for the rule of values.
struct TagCarry {
  const char* tag = nullptr;
  bool inValue = false;
  bool doubleQuote = false;       // the quote of that value
  std::uint64_t equals = 0;       // bit 0: the last byte was '='
  std::uint64_t blank = 0;        // bit 0: it was a blank...
  std::uint64_t afterEquals = 0;  // ...or it was in blanks right after '='
  std::uint64_t names = 0;        // bits 0 and 1: the last two bytes in a name
};

// True when a copy must leave the tag at `lt` to the state machine for its
// name: a start tag that opens an element read whole, an end tag that ends a
// body, or a name that runs to `end`.
inline bool NameMatters(const char* lt, const char* end) {
  int endTag = lt[1] == '/';
  const char* name = lt + 1 + endTag;
  const char* nameEnd = NameEnd(name, end);
  return nameEnd == end || kCopyLooksAt[endTag].Has(
                               name, static_cast<std::size_t>(nameEnd - name));
}

// Where a quote opens a value, from bits alone where that is sure: '='
// comes right before it, an attribute's name (no blank, '/', '=', '>', '<'
// or quote) before that, and before the name a blank that follows no '='
// (with blanks only between). Anything else that looks like a value is left
// to the state machine. Carries the window's end to the next window.
inline std::uint64_t ValueStarts(const TagMasks& m, TagCarry* carry) {
  std::uint64_t quotes = m.double_ | m.single;
  std::uint64_t blanks = m.spaces & ~m.slash;
  std::uint64_t equalsBefore = (m.equals << 1) | carry->equals;
  std::uint64_t afterEquals =
      RunsFrom(blanks & (equalsBefore | carry->afterEquals), blanks);
  std::uint64_t nameBytes = ~(m.spaces | m.equals | m.gt | m.lt | quotes);
  std::uint64_t nameSeeds =
      nameBytes &
      ((((blanks & ~afterEquals) << 1) | (carry->blank & ~carry->afterEquals)) |
       (carry->names >> 1));
  std::uint64_t names = RunsFrom(nameSeeds, nameBytes);
  std::uint64_t starts = quotes & equalsBefore & ((names << 2) | carry->names);
  carry->equals = m.equals >> 63;
  carry->blank = blanks >> 63;
  carry->afterEquals = afterEquals >> 63;
  carry->names = names >> 62;
  return starts;
}

// The quoted values of a window: the bytes after each opening quote (of
// ValueStarts) up to its closing one, and those of a value carried in. Sets
// *opened to the opening quotes, and carries a value that runs on; all bits
// when the whole window is in a value.
inline std::uint64_t PlainValues(const TagMasks& m, std::uint64_t* opened,
                                 TagCarry* carry) {
  std::uint64_t starts = ValueStarts(m, carry);
  std::uint64_t values = 0;
  if (carry->inValue) {
    // A value carried in: it closes at its first quote in the window.
    std::uint64_t closes = carry->doubleQuote ? m.double_ : m.single;
    if (closes == 0) return ~std::uint64_t{0};
    values = (LowBit(closes) << 1) - 1;
    carry->inValue = false;
  }
  *opened = 0;
  for (starts &= ~values; starts != 0;) {
    std::uint64_t start = LowBit(starts);
    bool isDouble = (m.double_ & start) != 0;
    std::uint64_t closes = (isDouble ? m.double_ : m.single) & Above(start);
    *opened |= start;
    if (closes == 0) {  // the value runs on into the next window
      values |= Above(start);
      carry->inValue = true;
      carry->doubleQuote = isDouble;
      break;
    }
    std::uint64_t close = LowBit(closes);
    values |= (close << 1) - (start << 1);
    starts &= Above(close);
  }
  return values;
}

// Passes one window of 64 bytes at `p` (with two more bytes in view after
// it), when it holds text and tags alone: each '<' that opens a tag (a
// letter after it, or "/" and a letter) and is inside no other tag, with
// only plain values (PlainValues) as quotes up to its '>', and with a name
// no copy looks at. Each such tag ends at the first '>' after its '<' that
// is in no value. False when the state machine must read the window.
__attribute__((always_inline)) inline bool PassWindow(const char* p,
                                                      const char* end,
                                                      const TagMasks& m,
                                                      TagCarry* carry) {
  bool inTag = carry->tag != nullptr;
  std::uint64_t quotes = m.double_ | m.single;
  if ((m.lt | quotes | (inTag ? m.gt : 0)) == 0 && !carry->inValue) {
    // Text alone, or the inside of a long tag: what opens a value at the
    // next window's start is then left to the state machine.
    carry->equals = carry->blank = carry->afterEquals = carry->names = 0;
    return true;
  }
  std::uint64_t opened = 0;
  std::uint64_t values = 0;
  bool carried = quotes != 0 || carry->inValue;
  if (carried) {
    values = PlainValues(m, &opened, carry);
    if (values == ~std::uint64_t{0}) return true;  // all in a carried value
  }
  std::uint64_t lts = m.lt & ~values;
  std::uint64_t opens =
      lts & ((m.letters >> 1) | ((m.slash >> 1) & (m.letters >> 2)));
  if ((lts >> 62) != 0) {
    // A '<' among the last two bytes opens a tag by the bytes after them.
    bool letter = IsAsciiLetter(static_cast<unsigned char>(p[64]));
    bool slashLetter =
        p[64] == '/' && IsAsciiLetter(static_cast<unsigned char>(p[65]));
    opens |= lts & ((std::uint64_t{letter || slashLetter} << 63) |
                    (std::uint64_t{p[63] == '/' && letter} << 62));
  }
  // Each tag runs from its '<' to before the first '>' in no value; a '<'
  // inside a tag (two seeds in a run) is left to the state machine.
  std::uint64_t inTags = ~(m.gt & ~values);
  std::uint64_t seeds = opens | (std::uint64_t{inTag} & inTags);
  std::uint64_t inside = RunsFrom(seeds, inTags);
  std::uint64_t live = opens & ~(inside << 1) & ~std::uint64_t{inTag};
  if ((seeds & ~inside) != 0 || (lts & ~opens & ~(inside << 1)) != 0 ||
      (opened & ~inside) != 0 || (quotes & inside & ~values & ~opened) != 0) {
    return false;
  }
  // Names of one or two bytes matter to no copy; longer ones are looked at.
  std::uint64_t names =
      m.letters & ((live << 1) | (((live << 1) & m.slash) << 1));
  std::uint64_t enders = m.spaces | m.gt;
  for (std::uint64_t longer = names & ~((enders >> 1) | (enders >> 2));
       longer != 0; longer &= longer - 1) {
    int name = LowestBit(longer);
    std::uint64_t nameEnds = enders & From(name);
    int endTag = static_cast<int>((m.slash >> (name - 1)) & 1);
    if (nameEnds == 0 ? NameMatters(p + name - 1 - endTag, end)
                      : kCopyLooksAt[endTag].Has(
                            p + name, static_cast<std::size_t>(
                                          LowestBit(nameEnds) - name))) {
      return false;
    }
  }
  // A tag whose '<' is among the window's last two bytes has its name in
  // the next window.
  if ((live >> 62) != 0 && NameMatters(p + 63 - __builtin_clzll(live), end)) {
    return false;
  }
  if ((inside >> 63) == 0) {
    // The next window starts in text: nothing of this one opens a value.
    *carry = TagCarry();
    return true;
  }
  if (live != 0) carry->tag = p + 63 - __builtin_clzll(live);
  if (!carried) ValueStarts(m, carry);  // for the next window's values
  return true;
}

#endif  // MERGE_SCAN_KERNEL_H_
