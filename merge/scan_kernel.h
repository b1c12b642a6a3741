// Inside the scanner: what a kernel computes for 64 bytes, the walk over a
// view written once over those masks, and each kernel's entry points. Only
// the scanner's own files include this.
#ifndef MERGE_SCAN_KERNEL_H_
#define MERGE_SCAN_KERNEL_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>

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

#endif  // MERGE_SCAN_KERNEL_H_
