// The scanner's public side: the stop-word test, and the choice of kernel,
// made at first use. This is the only file of the scanner that knows
// which kernels the build has.
#include "merge/scan.h"

#include <algorithm>
#include <cstring>

#include "merge/scan_kernel.h"

namespace {

// A kernel's entry points.
struct Kernel {
  ScanKernel name;
  std::size_t (*findWhitespace)(const char*, std::size_t);
  const char* (*findStop)(const char*, const char*, char, Words,
                          const StopStarts&, bool*);
  std::size_t (*findNameEnd)(const char*, std::size_t);
  TagMasksFunction tagMasks;
};

constexpr Kernel kPlain = {ScanKernel::kPlain, FindWhitespacePlain,
                           FindStopPlain, FindNameEndPlain, PlainTagMasks};

#if defined(__x86_64__) && !defined(TEMBRIX_SCALAR_SCAN)
constexpr Kernel kSse2 = {ScanKernel::kSse2, FindWhitespaceSse2, FindStopSse2,
                          FindNameEndSse2, Sse2TagMasks};
// The AVX2 kernel keeps the SSE2 whitespace search: it looks for the end of
// a word, which nearly always comes within its first 16 bytes, so wider
// loads would only add work before the answer.
constexpr Kernel kAvx2 = {ScanKernel::kAvx2, FindWhitespaceSse2, FindStopAvx2,
                          FindNameEndSse2, Avx2TagMasks};

// The AVX-512 kernel computes the HTML copy's masks 64 bytes at a time and
// keeps the AVX2 kernel's other searches.
constexpr Kernel kAvx512 = {ScanKernel::kAvx512, FindWhitespaceSse2,
                            FindStopAvx2, FindNameEndSse2, Avx512TagMasks};

std::vector<Kernel> Runnable() {
  // Every x86-64 processor has SSE2.
  std::vector<Kernel> kernels = {kPlain, kSse2};
  if (__builtin_cpu_supports("avx2")) kernels.push_back(kAvx2);
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512bw")) {
    kernels.push_back(kAvx512);
  }
  return kernels;
}
#else
std::vector<Kernel> Runnable() { return {kPlain}; }
#endif

// The kernel in use: the widest the processor runs, chosen once.
Kernel& Current() {
  static Kernel current = Runnable().back();
  return current;
}

}  // namespace

bool IsStopWord(const char* word, std::size_t length, Words words) {
  for (std::string_view w : words) {
    if (w.size() == length && w[0] == word[0] &&
        std::memcmp(w.data(), word, length) == 0) {
      return true;
    }
  }
  return false;
}

StopStarts StartsOf(Words stops) {
  StopStarts starts;
  auto add = [](char c, char* set, int* count) {
    for (int i = 0; i < *count; ++i) {
      if (set[i] == c) return;
    }
    set[(*count)++] = c;
  };
  for (std::string_view w : stops) {
    add(w[0], starts.first, &starts.firsts);
    add(w[1], starts.second, &starts.seconds);
  }
  return starts;
}

std::size_t FindWhitespace(const char* data, std::size_t size) {
  return Current().findWhitespace(data, size);
}

const char* FindStop(const char* begin, const char* end, char trigger,
                     Words stops, const StopStarts& starts, bool* stop) {
  return Current().findStop(begin, end, trigger, stops, starts, stop);
}

std::size_t FindNameEnd(const char* data, std::size_t size) {
  return Current().findNameEnd(data, size);
}

const char* SkimTags(const char* begin, const char* end) {
  return WalkTags(begin, end, Current().tagMasks);
}

const char* WalkTags(const char* p, const char* end, TagMasksFunction masksOf) {
  TagCarry carry;
  TagMasks masks[kTagWindows];
  // Each window needs two bytes after it in view.
  while (end - p >= 66) {
    int windows = std::min<std::ptrdiff_t>(kTagWindows, (end - p - 2) / 64);
    masksOf(p, windows, masks);
    for (int i = 0; i < windows; ++i, p += 64) {
      if (!PassWindow(p, end, masks[i], &carry)) {
        return carry.tag != nullptr ? carry.tag : p;
      }
    }
  }
  // The state machine goes on from text: before a tag that is open.
  return carry.tag != nullptr ? carry.tag : p;
}

std::vector<ScanKernel> AvailableScanKernels() {
  std::vector<ScanKernel> names;
  for (const Kernel& kernel : Runnable()) names.push_back(kernel.name);
  return names;
}

ScanKernel SelectScanKernel(ScanKernel kernel) {
  ScanKernel was = Current().name;
  for (const Kernel& k : Runnable()) {
    if (k.name == kernel) Current() = k;
  }
  return was;
}
