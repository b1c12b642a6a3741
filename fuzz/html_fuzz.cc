// Fuzzes the HTML mode: the input bytes are split into a template and a
// page, written to files in a scratch folder, merged by the program, and
// checked against the plain in-memory version of the rules.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "merge/apply_temp.h"
#include "tests/html_reference.h"

namespace fs = std::filesystem;

namespace {

void Write(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string Read(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The scratch folder, entered once for the whole run.
void EnterScratch() {
  static bool entered = [] {
    std::string dir =
        (fs::temp_directory_path() / "tembrix-html-fuzz-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    if (chdir(dir.c_str()) != 0) std::abort();
    fs::create_directory("temb");
    return true;
  }();
  (void)entered;
}

}  // namespace

// First byte: where the split falls; the rest: template, then page.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  EnterScratch();
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t split = bytes.size() * data[0] / 255;
  std::string templ = bytes.substr(0, split);
  std::string page = bytes.substr(split);
  Write("t.html", templ);
  Write("p.html", page);
  fs::remove("temb/p.html");
  std::ostringstream console;
  std::streambuf* out = std::cout.rdbuf(console.rdbuf());
  std::streambuf* err = std::cerr.rdbuf(console.rdbuf());
  MergeRun run;
  run.mode.html = true;
  MergeOutcome outcome = MergeFile(run, "t.html", "p.html");
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  bool templateOk = false;
  std::string expected = ReferenceHtmlMerge(templ, page, &templateOk);
  if (templateOk != (outcome == MergeOutcome::kWritten)) std::abort();
  if (templateOk && Read("temb/p.html") != expected) std::abort();
  return 0;
}
