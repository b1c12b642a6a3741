#include "merge/apply_temp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "merge/text.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace {

using Words = std::initializer_list<std::string_view>;

// One more than the longest word any phase compares: a word this long or
// longer matches nothing and is streamed through instead of held.
constexpr std::size_t kLongWord = 7;

// The head of the next word; `size` reaches kLongWord when the word is long.
struct WordHead {
  char text[kLongWord + 1];  // room for the '>' a body tag may gain
  std::size_t size = 0;
  std::string_view view() const { return std::string_view(text, size); }
};

// True when word[0, length) is one of `words`. Most words met are short
// closing tags: the length and the first byte rule nearly all of them out
// before any comparison of bytes.
bool IsStopWord(const char* word, std::size_t length, Words words) {
  for (std::string_view w : words) {
    if (w.size() == length && w[0] == word[0] &&
        std::memcmp(w.data(), word, length) == 0) {
      return true;
    }
  }
  return false;
}

bool IsOneOf(std::string_view word, Words words) {
  return IsStopWord(word.data(), word.size(), words);
}

// Passes the rest of a long word to `out`, or drops it when `out` is null.
void PassWordRest(Source& in, Sink* out) {
  for (std::string_view piece = TakeWordPiece(in); !piece.empty();
       piece = TakeWordPiece(in)) {
    if (out != nullptr) Write(*out, piece);
  }
}

// Takes a word for a phase that skips words: a long word is consumed whole
// and comes back as its head, which matches no tag word.
WordHead TakeShortWord(Source& in) {
  WordHead w;
  w.size = TakeWordHead(in, w.text, kLongWord);
  if (w.size == kLongWord) PassWordRest(in, nullptr);
  return w;
}

// The first and second bytes that the stop words of a copy loop begin with
// after their trigger: a trigger followed by anything else stops nothing.
struct StopStarts {
  char first[8];
  char second[8];
  int firsts = 0;
  int seconds = 0;
};

StopStarts StartsOf(Words stops) {
  StopStarts starts;
  auto add = [](char c, char* set, int* count) {
    for (int i = 0; i < *count; ++i) {
      if (set[i] == c) return;
    }
    set[(*count)++] = c;
  };
  for (std::string_view w : stops) {  // every stop word has 3 bytes or more
    add(w[0], starts.first, &starts.firsts);
    add(w[1], starts.second, &starts.seconds);
  }
  return starts;
}

// What a copy loop needs to know of up to 64 bytes, a bit for each byte.
struct WindowMasks {
  std::uint64_t triggers = 0;  // the trigger
  std::uint64_t blanks = 0;    // whitespace
  std::uint64_t firsts = 0;    // a byte a stop word may begin with
  std::uint64_t seconds = 0;   // a byte that may come second in one
};

inline WindowMasks Masks(const char* data, std::size_t size, char trigger,
                         const StopStarts& starts) {
  WindowMasks m;
#ifdef __SSE2__
  if (size == 64 && starts.firsts <= 2 && starts.seconds <= 2) {
    const __m128i t = _mm_set1_epi8(trigger);
    // Every set holds one or two bytes: a second one repeats the first.
    const __m128i first0 = _mm_set1_epi8(starts.first[0]);
    const __m128i first1 = _mm_set1_epi8(starts.first[starts.firsts - 1]);
    const __m128i second0 = _mm_set1_epi8(starts.second[0]);
    const __m128i second1 = _mm_set1_epi8(starts.second[starts.seconds - 1]);
    for (int k = 0; k < 4; ++k) {
      __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data) + k);
      __m128i first =
          _mm_or_si128(_mm_cmpeq_epi8(x, first0), _mm_cmpeq_epi8(x, first1));
      __m128i second =
          _mm_or_si128(_mm_cmpeq_epi8(x, second0), _mm_cmpeq_epi8(x, second1));
      auto bits = [k](__m128i v) {
        return static_cast<std::uint64_t>(
                   static_cast<std::uint16_t>(_mm_movemask_epi8(v)))
               << (16 * k);
      };
      m.triggers |= bits(_mm_cmpeq_epi8(x, t));
      m.blanks |= bits(WhitespaceBytes(x));
      m.firsts |= bits(first);
      m.seconds |= bits(second);
    }
    return m;
  }
#endif
  for (std::size_t i = 0; i < size; ++i) {
    char c = data[i];
    std::uint64_t bit = std::uint64_t{1} << i;
    if (c == trigger) m.triggers |= bit;
    if (IsWhitespace(c)) m.blanks |= bit;
    for (int k = 0; k < starts.firsts; ++k) {
      if (c == starts.first[k]) m.firsts |= bit;
    }
    for (int k = 0; k < starts.seconds; ++k) {
      if (c == starts.second[k]) m.seconds |= bit;
    }
  }
  return m;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TEMBRIX_HAVE_AVX2 1
// The same masks 32 bytes at a time, for processors that have AVX2; chosen
// at run time.
__attribute__((target("avx2"))) inline WindowMasks MasksAvx2(
    const char* data, std::size_t size, char trigger,
    const StopStarts& starts) {
  if (size != 64 || starts.firsts > 2 || starts.seconds > 2) {
    return Masks(data, size, trigger, starts);
  }
  const __m256i t = _mm256_set1_epi8(trigger);
  const __m256i first0 = _mm256_set1_epi8(starts.first[0]);
  const __m256i first1 = _mm256_set1_epi8(starts.first[starts.firsts - 1]);
  const __m256i second0 = _mm256_set1_epi8(starts.second[0]);
  const __m256i second1 = _mm256_set1_epi8(starts.second[starts.seconds - 1]);
  const __m256i space = _mm256_set1_epi8(' ');
  const __m256i tab = _mm256_set1_epi8('\t');
  const __m256i four = _mm256_set1_epi8(4);
  WindowMasks m;
  for (int k = 0; k < 2; ++k) {
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data) + k);
    __m256i low = _mm256_sub_epi8(x, tab);
    __m256i blank =
        _mm256_or_si256(_mm256_cmpeq_epi8(x, space),
                        _mm256_cmpeq_epi8(_mm256_min_epu8(low, four), low));
    __m256i first = _mm256_or_si256(_mm256_cmpeq_epi8(x, first0),
                                    _mm256_cmpeq_epi8(x, first1));
    __m256i second = _mm256_or_si256(_mm256_cmpeq_epi8(x, second0),
                                     _mm256_cmpeq_epi8(x, second1));
    int shift = 32 * k;
    m.triggers |= std::uint64_t{static_cast<std::uint32_t>(
                      _mm256_movemask_epi8(_mm256_cmpeq_epi8(x, t)))}
                  << shift;
    m.blanks |=
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(blank))}
        << shift;
    m.firsts |=
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(first))}
        << shift;
    m.seconds |=
        std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(second))}
        << shift;
  }
  return m;
}
#endif

int LowestBit(std::uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_ctzll(x);
#else
  int i = 0;
  while ((x & 1) == 0) x >>= 1, ++i;
  return i;
#endif
}

// Where a copy loop must stop in [begin, end): at a trigger whose word
// follows at once, ends inside the view and is a stop word (*stop set), or
// at a trigger that needs the reader (whitespace right after it, or a word
// that may go on past the view). Null when neither is there.
//
// Characters are taken one by one until a trigger; the word after it runs
// to the next whitespace and swallows any trigger in it. So in each run of
// non-whitespace bytes only the first trigger counts (is live), and, as the
// run at `begin` is taken from its start, so it is there too. The live
// triggers of 64 bytes come from one addition: in each run, a bit added at
// the run's start carries through the bytes that are not triggers and stops
// at the first trigger. Only the few live triggers whose next two bytes may
// begin a stop word, or that need the reader, are looked at one by one.
using MasksFunction = WindowMasks (*)(const char*, std::size_t, char,
                                      const StopStarts&);

template <MasksFunction MasksOf>
__attribute__((always_inline)) inline const char* FindStopWith(
    const char* begin, const char* end, char trigger, Words stops,
    const StopStarts& starts, bool* stop) {
  *stop = false;
  bool runGoesOn = false;            // the window before ended inside a run...
  bool runIsOpen = true;             // ...that has had no live trigger yet
  const char* swallowing = nullptr;  // a live trigger whose word goes on
  for (const char* p = begin; p < end; p += 64) {
    std::size_t size = std::min<std::size_t>(64, end - p);
    std::uint64_t valid =
        size == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << size) - 1;
    WindowMasks m = MasksOf(p, size, trigger, starts);
    std::uint64_t text = ~m.blanks & valid;
    std::uint64_t runStarts = text & ~((text << 1) | (runGoesOn ? 1 : 0));
    if (runIsOpen) runStarts |= text & 1;
    std::uint64_t carried;
    bool carryOut =
        __builtin_add_overflow(text & ~m.triggers, runStarts, &carried);
    std::uint64_t live = carried & m.triggers;
    // The last two bytes cannot tell what follows them: always looked at.
    std::uint64_t nearEnd = size >= 2 ? std::uint64_t{3} << (size - 2) : valid;
    std::uint64_t look = live & (((m.firsts >> 1) & (m.seconds >> 2)) |
                                 (m.blanks >> 1) | nearEnd);
    while (look != 0) {
      int i = LowestBit(look);
      look &= look - 1;
      const char* hit = p + i;
      const char* word = hit + 1;
      if (word == end) return hit;
      std::uint64_t after =
          i < 63 ? m.blanks & (~std::uint64_t{0} << (i + 1)) : 0;
      const char* wordEnd = after != 0
                                ? p + LowestBit(after)
                                : word + FindWhitespace(word, end - word);
      if (wordEnd == word || wordEnd == end) return hit;
      if (IsStopWord(word, wordEnd - word, stops)) {
        *stop = true;
        return hit;
      }
    }
    // The state at the end of the window, for the next one. A run has one
    // live trigger at most, so one can follow the window's last blank.
    std::uint64_t upToLastBlank = m.blanks;
    for (int shift = 1; shift < 64; shift *= 2) {
      upToLastBlank |= upToLastBlank >> shift;
    }
    std::uint64_t liveAtEnd = live & ~upToLastBlank;
    if (liveAtEnd != 0) {
      swallowing = p + LowestBit(liveAtEnd);
    } else if (m.blanks != 0) {
      swallowing = nullptr;
    }
    runGoesOn = (text >> (size - 1)) & 1;
    runIsOpen = carryOut;
  }
  // A word that runs to the end of the view may go on past it.
  return swallowing;
}

#ifdef TEMBRIX_HAVE_AVX2
__attribute__((target("avx2"))) const char* FindStopAvx2(
    const char* begin, const char* end, char trigger, Words stops,
    const StopStarts& starts, bool* stop) {
  return FindStopWith<MasksAvx2>(begin, end, trigger, stops, starts, stop);
}
#endif

#ifdef TEMBRIX_HAVE_AVX2
bool useAvx2 = __builtin_cpu_supports("avx2");
#endif

const char* FindStop(const char* begin, const char* end, char trigger,
                     Words stops, const StopStarts& starts, bool* stop) {
#ifdef TEMBRIX_HAVE_AVX2
  if (useAvx2) return FindStopAvx2(begin, end, trigger, stops, starts, stop);
#endif
  return FindStopWith<Masks>(begin, end, trigger, stops, starts, stop);
}

// Copies characters to `out` until `trigger` is taken and the word after it
// is one of `stops`; that trigger and word are consumed and not written.
// The whitespace between a trigger and its word is lost.
void CopyUntil(Source& in, char trigger, Words stops, Sink& out) {
  const StopStarts starts = StartsOf(stops);
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    const char* begin = ahead.data();
    const char* end = begin + ahead.size();
    // A trigger whose word follows at once and ends inside the block is
    // written exactly as it stands, so such triggers need no work beyond
    // finding them: the block goes out as one run up to a stop word, or up
    // to a trigger that needs the careful path below.
    bool stop = false;
    const char* hit = FindStop(begin, end, trigger, stops, starts, &stop);
    if (hit == nullptr) {
      Write(out, begin, end - begin);
      Skip(in, end - begin);
      continue;
    }
    Write(out, begin, hit - begin);
    if (stop) {
      Skip(in, hit + 1 - begin);
      TakeWordPiece(in);  // the stop word, which ends inside the block
      return;
    }
    // Whitespace after the trigger, or a word that may go on past the
    // block: take the word through the reader.
    Skip(in, hit + 1 - begin);
    WordHead w;
    w.size = TakeWordHead(in, w.text, kLongWord);
    if (w.size < kLongWord && IsOneOf(w.view(), stops)) return;
    Write(out, &trigger, 1);
    Write(out, w.view());
    if (w.size == kLongWord) PassWordRest(in, &out);
  }
}

// Takes characters up to and including `last`, passing them to `out` unless
// it is null; false when the source ran out first.
bool PassThrough(Source& in, char last, Sink* out) {
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    const void* hit = std::memchr(ahead.data(), last, ahead.size());
    std::size_t run = hit == nullptr
                          ? ahead.size()
                          : static_cast<const char*>(hit) - ahead.data() + 1;
    if (out != nullptr) Write(*out, ahead.data(), run);
    Skip(in, run);
    if (hit != nullptr) return true;
  }
  return false;
}

// Skips the input up to its head tag, which is written in its own case.
void CopyHeadTag(Source& input, Sink& out) {
  while (Look(input) != kEndOfInput) {
    WordHead w = TakeShortWord(input);
    if (IsOneOf(w.view(), {"<head>", "<HEAD>"})) {
      Write(out, w.view());
      return;
    }
  }
}

// Skips words up to a body tag. When `out` is set the tag is written in
// lower case: "<body>" alone, or "<body ", a newline and the attributes as
// they stand, closing '>' included. When `out` is null the tag is dropped.
void FindBodyTag(Source& in, Sink* out) {
  bool hasBodyTag = false;
  while (Look(in) != kEndOfInput) {
    WordHead w = TakeShortWord(in);
    if (IsOneOf(w.view(), {"<body", "<BODY"})) {
      if (out != nullptr) {
        Write(*out, "<body \n");
        hasBodyTag = true;
      }
      if (PassThrough(in, '>', out)) w.text[w.size++] = '>';
    }
    if (IsOneOf(w.view(), {"<body>", "<BODY>"})) {
      if (out != nullptr && !hasBodyTag) Write(*out, "<body>");
      return;
    }
  }
}

void CopyRest(Source& in, Sink& out) {
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    Write(out, ahead);
    Skip(in, ahead.size());
  }
}

// True when ".." folders in the name part of the output climb above the
// output folder ("temb/../index.html"); "temb/a/../b.html" stays inside.
bool LeavesOutputFolder(const std::string& outputName) {
  int depth = 0;
  std::size_t start = std::char_traits<char>::length(OUTPUT_PREFIX);
  while (start <= outputName.size()) {
    std::size_t end = start;
    while (end < outputName.size() && !IsSeparator(outputName[end])) ++end;
    std::string_view part(outputName.data() + start, end - start);
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

// Refuses the output with two console lines: it cannot be opened, and why.
bool Refuse(const std::string& outputName, const char* reason) {
  WriteLine("Could not open " + ShownName(outputName));
  WriteLine(reason);
  return false;
}

// Creates the file that will replace the output, unless the output is a file
// being read or lies outside temb; writes the console lines for either
// outcome up to the end of the output's part of the message.
bool OpenOutput(const std::string& outputName,
                const FileIdentity* const (&reading)[3], Sink& out) {
  if (LeavesOutputFolder(outputName)) {
    return Refuse(outputName,
                  "The output file would be outside the folder temb");
  }
  switch (CreateReplacement(outputName, reading, 3, &out.file)) {
    case OutputCheck::kBeingRead:
      return Refuse(
          outputName,
          "The output file would overwrite the template or the input");
    case OutputCheck::kCannotCreate:
      return Refuse(outputName,
                    "Please make sure you have a folder called temb in the "
                    "current directory");
    case OutputCheck::kReady:
      break;
  }
  WriteText("Successfully opened " + ShownName(outputName) + " (Output file)");
  return true;
}

// Opens a page for reading, saying so on the console when it cannot.
int OpenPage(const std::string& name, FileIdentity* id) {
  int fd = OpenForReading(name, id);
  if (fd < 0) WriteLine("Could not open " + ShownName(name));
  return fd;
}

// Says so when a read error cut a page short; true when none did.
bool ReadWhole(const Source& page, const std::string& name) {
  if (page.readError) WriteLine("Could not read " + ShownName(name));
  return !page.readError;
}

}  // namespace

bool UseWidestScan(bool widest) {
#ifdef TEMBRIX_HAVE_AVX2
  bool was = useAvx2;
  useAvx2 = widest && __builtin_cpu_supports("avx2");
  return was;
#else
  (void)widest;
  return false;
#endif
}

std::string OutputName(const std::string& inputName) {
  return OUTPUT_PREFIX + CutName(inputName, MAXCHARS);
}

void MergePages(Source& templ, Source& input, Sink& out) {
  // The '<' is taken before the word, so the head tag arrives as "head>".
  CopyUntil(templ, '<', {"head>", "HEAD>"}, out);
  CopyHeadTag(input, out);
  CopyUntil(input, '<', {"/HEAD>", "/head>"}, out);
  FindBodyTag(templ, &out);
  CopyUntil(templ, '#', {"###"}, out);
  FindBodyTag(input, nullptr);
  CopyUntil(input, '<', {"/body", "/BODY", "/body>", "/BODY>"}, out);
  CopyRest(templ, out);
}

MergeOutcome MergeFile(const std::string& templateName,
                       const std::string& inputName,
                       const FileIdentity* alsoReading) {
  // The template is read afresh for every page, so a page never gets a
  // frame the file no longer holds.
  FileIdentity templId;
  int templFd = OpenPage(templateName, &templId);
  if (templFd < 0) return MergeOutcome::kNotOpened;
  Source templ(templFd);
  FileIdentity inputId;
  int inputFd = OpenPage(inputName, &inputId);
  // The template closes as `templ` goes.
  if (inputFd < 0) return MergeOutcome::kNotOpened;
  Source input(inputFd);
  std::string outputName = OutputName(inputName);
  // Every buffer is allocated before the temporary file is created.
  Sink out;
  const FileIdentity* const reading[3] = {&templId, &inputId, alsoReading};
  bool opened = OpenOutput(outputName, reading, out);
  WriteLine(" and " + ShownName(inputName) + " (Input file)");
  // Without an output the phases still run, their bytes dropped.
  MergePages(templ, input, out);
  // A page cut short by a read error must not replace the earlier one.
  bool templWhole = ReadWhole(templ, templateName);
  bool inputWhole = ReadWhole(input, inputName);
  bool written = FinishSink(out, templWhole && inputWhole);
  if (!written && opened) WriteLine("Could not write " + ShownName(outputName));
  return opened && written && templWhole && inputWhole
             ? MergeOutcome::kWritten
             : MergeOutcome::kNotWritten;
}

bool ApplyTemp(const std::string& templateName, const std::string& inputName,
               const FileIdentity* alsoReading) {
  return MergeFile(templateName, inputName, alsoReading) !=
         MergeOutcome::kNotOpened;
}
