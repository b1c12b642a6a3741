#include "tests/html_reference.h"

#include <string>
#include <vector>

namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Low(char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

enum Kind { kText, kComment, kStart, kEnd, kRaw };

struct Tok {
  Kind kind;
  std::size_t start;
  std::size_t end;
  std::string name;
};

bool In(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (name == n) return true;
  }
  return false;
}

// Where the tag whose name ends at `k` ends (past its '>'), reading its
// attributes as the grammar has them: a name of at least one byte (any
// byte first, even '=' or a quote), then optionally '=' and a value that is
// quoted or runs to a blank or '>'. npos when the string ends first.
std::size_t TagEnd(const std::string& s, std::size_t k) {
  const std::size_t n = s.size();
  auto nameByte = [&](std::size_t at) {
    return !Blank(s[at]) && s[at] != '/' && s[at] != '=' && s[at] != '>';
  };
  for (;;) {
    while (k < n && (Blank(s[k]) || s[k] == '/')) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] == '>') return k + 1;
    ++k;  // the name's first byte
    while (k < n && nameByte(k)) ++k;
    while (k < n && Blank(s[k])) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] != '=') continue;
    ++k;
    while (k < n && Blank(s[k])) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] == '"' || s[k] == '\'') {
      std::size_t close = s.find(s[k], k + 1);
      if (close == std::string::npos) return close;
      k = close + 1;
    } else {
      while (k < n && !Blank(s[k]) && s[k] != '>') ++k;
    }
  }
}

// The whole file as pieces, each character of text a piece of its own, up
// to the first markup the file ends inside; *cut is where that begins, or
// the size of the file.
std::vector<Tok> Pieces(const std::string& s, std::size_t* cut) {
  std::vector<Tok> out;
  const std::size_t n = s.size();
  const std::size_t none = std::string::npos;
  *cut = n;
  std::string raw;
  std::size_t i = 0;
  while (i < n) {
    if (raw == "plaintext") {
      out.push_back({kRaw, i, n, ""});
      break;
    }
    if (!raw.empty()) {
      std::size_t j = i;
      for (;; ++j) {
        if (j + 2 + raw.size() >= n) {
          // The element never ends: from its start tag on, nothing counts.
          *cut = out.back().start;
          out.pop_back();
          return out;
        }
        if (s[j] != '<' || s[j + 1] != '/') continue;
        std::size_t k = 0;
        while (k < raw.size() && Low(s[j + 2 + k]) == raw[k]) ++k;
        char after = s[j + 2 + raw.size()];
        if (k == raw.size() && (Blank(after) || after == '/' || after == '>')) {
          break;
        }
      }
      std::size_t end = TagEnd(s, j + 2 + raw.size());
      if (end == none) {
        *cut = out.back().start;
        out.pop_back();
        return out;
      }
      out.push_back({kRaw, i, j, ""});
      out.push_back({kEnd, j, end, raw});
      i = end;
      raw.clear();
      continue;
    }
    if (s[i] != '<' || i + 1 == n) {
      out.push_back({kText, i, i + 1, ""});
      ++i;
      continue;
    }
    char c = s[i + 1];
    bool endTag = c == '/' && i + 2 < n && Letter(s[i + 2]);
    std::size_t end = none;
    if (s.compare(i, 4, "<!--") == 0) {
      // "-->" from its first dash, or "--!>" after "<!--": the first.
      std::size_t a = s.find("-->", i + 2);
      std::size_t b = s.find("--!>", i + 4);
      if (a != none) end = a + 3;
      if (b != none && (end == none || b + 4 < end)) end = b + 4;
      if (end != none) out.push_back({kComment, i, end, ""});
    } else if (c == '!' || c == '?' || (c == '/' && !endTag)) {
      std::size_t gt = i + 2 <= n ? s.find('>', i + 2) : none;
      if (gt != none) {
        end = gt + 1;
        out.push_back({kComment, i, end, ""});
      }
    } else if (Letter(c) || endTag) {
      std::size_t k = i + (endTag ? 2 : 1);
      std::string name;
      while (k < n && !Blank(s[k]) && s[k] != '/' && s[k] != '>') {
        name += Low(s[k++]);
      }
      end = TagEnd(s, k);
      if (end != none) {
        out.push_back({endTag ? kEnd : kStart, i, end, name});
        if (!endTag &&
            In(name, {"script", "style", "title", "textarea", "xmp", "iframe",
                      "noembed", "noframes", "noscript", "plaintext"})) {
          raw = name;
        }
      }
    } else {
      out.push_back({kText, i, i + 1, ""});
      ++i;
      continue;
    }
    if (end == none) {
      *cut = i;
      return out;
    }
    i = end;
  }
  if (!raw.empty() && raw != "plaintext") {
    *cut = out.back().start;  // a start tag whose element never ends
    out.pop_back();
  }
  return out;
}

bool HeadElement(const Tok& t) {
  return t.kind == kStart &&
         In(t.name,
            {"head", "base", "basefont", "bgsound", "link", "meta", "title",
             "noscript", "noframes", "style", "script", "template"});
}

bool Filler(const Tok& t, const std::string& s) {
  return t.kind == kComment || (t.kind == kText && Blank(s[t.start]));
}

bool Ends(const Tok& t, std::initializer_list<const char*> names) {
  return t.kind == kEnd && In(t.name, names);
}

}  // namespace

std::string ReferenceHtmlMerge(const std::string& templ,
                               const std::string& page, bool* templateOk) {
  // The template's head tag, body tag and marker.
  std::size_t templCut = 0;
  std::vector<Tok> t = Pieces(templ, &templCut);
  std::size_t head = std::string::npos, body = std::string::npos,
              marker = std::string::npos;
  std::size_t run = 0;
  for (const Tok& x : t) {
    if (head == std::string::npos) {
      if (x.kind == kStart && x.name == "body") break;
      if (x.kind == kStart && x.name == "head") head = x.start;
    } else if (body == std::string::npos) {
      if (x.kind == kStart && x.name == "body") body = x.start;
    } else if (x.kind == kText && templ[x.start] == '#') {
      ++run;
      continue;
    } else if (run == 4 && !(x.kind == kText && templ[x.start] == '#')) {
      marker = x.start - 4;
      break;
    }
    run = 0;
  }
  if (marker == std::string::npos && run == 4) marker = templCut - 4;
  *templateOk = marker != std::string::npos;
  if (!*templateOk) return "";

  // The page's parts, token by token.
  std::size_t cut = 0;
  std::vector<Tok> p = Pieces(page, &cut);
  std::size_t hs = 0, he = 0, bs = 0, be = 0;
  std::size_t i = 0;
  const std::size_t n = p.size();
  while (i < n &&
         (Filler(p[i], page) || (p[i].kind == kStart && p[i].name == "html") ||
          (p[i].kind == kEnd && !Ends(p[i], {"body", "html", "br"})))) {
    ++i;
  }
  bool inBody = false;
  if (i < n && HeadElement(p[i])) {
    hs = p[i].start;
    he = cut;
    for (++i; i < n; ++i) {
      const Tok& x = p[i];
      if (Ends(x, {"head"})) {
        he = x.end;
        ++i;
        break;
      }
      bool stays = x.kind == kComment || x.kind == kRaw ||
                   (x.kind == kText && Blank(page[x.start])) ||
                   (x.kind == kStart && (x.name == "html" || HeadElement(x))) ||
                   (x.kind == kEnd && !Ends(x, {"body", "html", "br"}));
      if (!stays) {
        he = x.start;
        break;
      }
    }
  }
  while (i < n && Filler(p[i], page)) ++i;
  if (i < n) {
    inBody = true;
    bs = p[i].kind == kStart && p[i].name == "body" ? p[i++].end : p[i].start;
    be = cut;
    for (; i < n; ++i) {
      if (Ends(p[i], {"body", "html"})) {
        be = p[i].start;
        break;
      }
    }
  }
  if (!inBody) bs = be = 0;
  if (he < hs) he = hs;
  return templ.substr(0, head) + page.substr(hs, he - hs) +
         templ.substr(body, marker - body) + page.substr(bs, be - bs) +
         templ.substr(marker + 4);
}
