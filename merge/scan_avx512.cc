// The AVX-512 kernel, for x86-64 processors with its byte instructions: the
// masks of the HTML copy's walk, 64 bytes in one step, each compare giving
// its mask at once. Its other searches are the AVX2 kernel's.
#include <immintrin.h>

#include "merge/scan_kernel.h"

namespace {

__attribute__((target("avx512bw"))) inline TagMasks Avx512WindowMasks(
    const char* data) {
  __m512i x = _mm512_loadu_si512(data);
  auto is = [x](char c) __attribute__((target("avx512bw"))) {
    return _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(c));
  };
  TagMasks m;
  m.lt = is('<');
  m.gt = is('>');
  m.double_ = is('"');
  m.single = is('\'');
  m.equals = is('=');
  m.slash = is('/');
  // The blanks of HTML: space, and tab to carriage return but for the
  // vertical tab.
  __mmask64 tabToReturn = _mm512_cmple_epu8_mask(
      _mm512_sub_epi8(x, _mm512_set1_epi8('\t')), _mm512_set1_epi8(4));
  m.spaces = (is(' ') | (tabToReturn & ~is('\v'))) | m.slash;
  // Letters: in lower case, at most 'z' - 'a' above 'a'.
  m.letters = _mm512_cmple_epu8_mask(
      _mm512_sub_epi8(_mm512_or_si512(x, _mm512_set1_epi8(0x20)),
                      _mm512_set1_epi8('a')),
      _mm512_set1_epi8('z' - 'a'));
  return m;
}

}  // namespace

__attribute__((target("avx512bw"))) void Avx512TagMasks(const char* data,
                                                        int windows,
                                                        TagMasks* out) {
  for (int w = 0; w < windows; ++w) out[w] = Avx512WindowMasks(data + 64 * w);
}
