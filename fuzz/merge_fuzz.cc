// Fuzzes the merge: the input bytes are split into a template and an input
// page, merged in memory, and checked against the plain rules and against
// invariants every merge keeps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/chunk_buf.h"
#include "tests/reference_merge.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

// First byte: where the split falls; second: the longest piece the sources
// hand out at a time; the rest: template, then input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::size_t split = bytes.size() * data[0] / 255;
  std::string templ = bytes.substr(0, split);
  std::string input = bytes.substr(split);

  const std::string expected = ReferenceMerge(templ, input);

  std::istringstream wt(templ);
  std::istringstream wi(input);
  const std::string whole = ProgramMerge(wt.rdbuf(), wi.rdbuf());
  ChunkBuf ct(templ, 1 + data[1] % 16, data[1]);
  ChunkBuf ci(input, 1 + data[1] % 13, data[0]);
  const std::string chunked = ProgramMerge(&ct, &ci);

  Check(whole == expected);
  Check(chunked == expected);
  // Whitespace may be lost, and "<body" may grow into "<body \n": nothing
  // else is added.
  Check(whole.size() <= templ.size() + input.size() + 2);
  // Every byte comes from the pages or from the body tag's own text.
  bool seen[256] = {};
  for (unsigned char c : templ + input + "<body \n>") seen[c] = true;
  for (unsigned char c : whole) Check(seen[c]);
  return 0;
}
