#include "tests/reference_merge.h"

#include <initializer_list>
#include <sstream>
#include <string>

#include "merge/apply_temp.h"

namespace {

using Words = std::initializer_list<const char*>;

bool IsOneOf(const std::string& w, Words words) {
  for (const char* word : words) {
    if (w == word) return true;
  }
  return false;
}

void CopyLoop(std::istream& s, char trigger, Words stops, std::ostream& o) {
  while (s.peek() != std::istream::traits_type::eof()) {
    char c = static_cast<char>(s.get());
    if (c == trigger) {
      std::string w;
      s >> w;
      if (IsOneOf(w, stops)) return;
      o << c << w;
    } else {
      o << c;
    }
  }
}

void BodyTag(std::istream& s, std::ostream* o) {
  bool flag = false;
  while (s.peek() != std::istream::traits_type::eof()) {
    std::string w;
    s >> w;
    if (IsOneOf(w, {"<body", "<BODY"})) {
      if (o) {
        *o << "<body " << '\n';
        flag = true;
      }
      while (s.peek() != std::istream::traits_type::eof()) {
        char c = static_cast<char>(s.get());
        if (o) *o << c;
        if (c == '>') {
          w += '>';
          break;
        }
      }
    }
    if (IsOneOf(w, {"<body>", "<BODY>"})) {
      if (o && !flag) *o << "<body>";
      return;
    }
  }
}

}  // namespace

void ReferenceMerge(std::istream& t, std::istream& i, std::ostream& o) {
  CopyLoop(t, '<', {"head>", "HEAD>"}, o);
  while (i.peek() != std::istream::traits_type::eof()) {
    std::string w;
    i >> w;
    if (IsOneOf(w, {"<head>", "<HEAD>"})) {
      o << w;
      break;
    }
  }
  CopyLoop(i, '<', {"/HEAD>", "/head>"}, o);
  BodyTag(t, &o);
  CopyLoop(t, '#', {"###"}, o);
  BodyTag(i, nullptr);
  CopyLoop(i, '<', {"/body", "/BODY", "/body>", "/BODY>"}, o);
  while (t.peek() != std::istream::traits_type::eof()) {
    o << static_cast<char>(t.get());
  }
}

std::string ReferenceMerge(const std::string& templ, const std::string& input) {
  std::istringstream t(templ);
  std::istringstream i(input);
  std::ostringstream o;
  ReferenceMerge(t, i, o);
  return o.str();
}

std::string ProgramMerge(std::streambuf* templ, std::streambuf* input) {
  std::ostringstream o;
  Source t(templ);
  Source i(input);
  Sink out(o.rdbuf());
  MergePages(t, i, out);
  out.Finish(true);
  return o.str();
}
