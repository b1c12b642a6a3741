// Fuzzes the HTML and layout modes: the input bytes are split into a
// template and a page, written to files in a scratch folder, merged by the
// program, and checked against the plain in-memory version of the rules.
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

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string Read(const std::string& name) {
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
    fs::create_directories("a/b/c");
    fs::create_directories("temb/a/b/c");
    return true;
  }();
  (void)entered;
}

}  // namespace

// First byte: where the split falls; second: the layout mode (4) and the
// page's depth (0 to 3); the rest: template, then page.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  EnterScratch();
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::size_t split = bytes.size() * data[0] / 255;
  std::string templ = bytes.substr(0, split);
  std::string page = bytes.substr(split);
  const bool layout = (data[1] & 4) != 0;
  const int depth = data[1] & 3;
  const std::string name =
      std::string("a/b/c/").substr(0, 2 * depth) + "p.html";
  Write("t.html", templ);
  Write(name, page);
  fs::remove("temb/" + name);
  std::ostringstream console;
  std::streambuf* out = std::cout.rdbuf(console.rdbuf());
  std::streambuf* err = std::cerr.rdbuf(console.rdbuf());
  MergeRun run;
  run.mode.html = true;
  run.mode.layout = layout;
  MergeOutcome outcome = MergeFile(run, "t.html", name);
  std::cout.rdbuf(out);
  std::cerr.rdbuf(err);
  bool templateOk = false;
  std::string expected =
      layout ? ReferenceLayoutMerge(templ, page, depth, &templateOk)
             : ReferenceHtmlMerge(templ, page, &templateOk);
  if (templateOk != (outcome == MergeOutcome::kWritten)) std::abort();
  if (templateOk && Read("temb/" + name) != expected) std::abort();
  return 0;
}
