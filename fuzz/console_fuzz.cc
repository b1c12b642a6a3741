// Fuzzes the console dialogue: the input bytes are the console input of one
// run of the menu loop, in a small fixed site. Every run must end with
// status 0 and leave every file outside temb as it was.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/console_capture.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> site;  // path -> content, outside temb
std::string siteFolder;

void RemoveSite() {
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(), ec);
  fs::remove_all(siteFolder, ec);
}

void Write(const std::string& name, const std::string& content) {
  std::ofstream(name, std::ios::binary) << content;
  site[name] = content;
}

std::string Read(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Every entry of the site folder outside temb, with the contents of files.
std::map<std::string, std::string> Look() {
  std::map<std::string, std::string> now;
  for (auto it = fs::recursive_directory_iterator(".");
       it != fs::recursive_directory_iterator(); ++it) {
    std::string path = it->path().lexically_relative(".").string();
    if (path == "temb") {
      it.disable_recursion_pending();
      continue;
    }
    now[path] = it->is_regular_file() ? Read(path) : "<folder>";
  }
  return now;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string dir =
      (fs::temp_directory_path() / "tembrix-fuzz-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) std::abort();
  fs::current_path(dir);
  siteFolder = dir;
  std::atexit(RemoveSite);
  fs::create_directory("temb");
  fs::create_directory("pages");
  site["pages"] = "<folder>";
  Write("t.html", "<html>\n<head>\n</head>\n<body a=b>\n####\n</body>\n");
  Write("in.html", "<head> <title>x</title> </head>\n<body>\nhi\n</body>\n");
  Write("pages/p.html", "<HEAD> p </HEAD> <BODY> q </BODY>");
  Write("list.txt", "in.html pages/p.html missing.html t.html list.txt\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string out;
  int status =
      RunMenuOn(std::string(reinterpret_cast<const char*>(data), size), &out);
  if (status != 0) std::abort();
  if (Look() != site) std::abort();  // something outside temb changed
  for (const auto& entry : fs::directory_iterator("temb")) {
    fs::remove_all(entry.path());
  }
  return 0;
}
