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

// The whole file as pieces, each character of text a piece of its own.
std::vector<Tok> Pieces(const std::string& s) {
  std::vector<Tok> out;
  const std::size_t n = s.size();
  std::string raw;
  std::size_t i = 0;
  while (i < n) {
    if (raw == "plaintext") {
      out.push_back({kRaw, i, n, ""});
      break;
    }
    if (!raw.empty()) {
      std::size_t j = i;
      for (; j < n; ++j) {
        if (s[j] != '<' || j + 1 >= n || s[j + 1] != '/') continue;
        std::size_t k = 0;
        while (k < raw.size() && j + 2 + k < n && Low(s[j + 2 + k]) == raw[k]) {
          ++k;
        }
        std::size_t after = j + 2 + raw.size();
        if (k == raw.size() && after < n &&
            (Blank(s[after]) || s[after] == '/' || s[after] == '>')) {
          break;
        }
      }
      out.push_back({kRaw, i, j, ""});
      i = j;
      raw.clear();
      continue;
    }
    if (s[i] == '<' && i + 1 < n) {
      char c = s[i + 1];
      if (s.compare(i, 4, "<!--") == 0) {
        std::size_t j = s.find("-->", i + 2);
        std::size_t end = j == std::string::npos ? n : j + 3;
        out.push_back({kComment, i, end, ""});
        i = end;
        continue;
      }
      bool endTag = c == '/' && i + 2 < n && Letter(s[i + 2]);
      if (c == '!' || c == '?' || (c == '/' && i + 2 < n && !endTag)) {
        std::size_t j = s.find('>', i + 2);
        std::size_t end = j == std::string::npos ? n : j + 1;
        out.push_back({kComment, i, end, ""});
        i = end;
        continue;
      }
      if (Letter(c) || endTag) {
        std::size_t k = i + (endTag ? 2 : 1);
        std::string name;
        while (k < n && !Blank(s[k]) && s[k] != '/' && s[k] != '>') {
          name += Low(s[k++]);
        }
        bool afterEquals = false;
        bool closed = false;
        while (k < n) {
          char a = s[k];
          if (a == '>') {
            closed = true;
            ++k;
            break;
          }
          if (afterEquals && (a == '"' || a == '\'')) {
            std::size_t q = s.find(a, k + 1);
            if (q == std::string::npos) break;
            k = q + 1;
            afterEquals = false;
            continue;
          }
          if (a == '=') {
            afterEquals = true;
          } else if (!Blank(a)) {
            afterEquals = false;
          }
          ++k;
        }
        if (closed) {
          out.push_back({endTag ? kEnd : kStart, i, k, name});
          if (!endTag &&
              In(name, {"script", "style", "title", "textarea", "xmp", "iframe",
                        "noembed", "noframes", "noscript", "plaintext"})) {
            raw = name;
          }
          i = k;
          continue;
        }
      }
    }
    out.push_back({kText, i, i + 1, ""});
    ++i;
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
  std::vector<Tok> t = Pieces(templ);
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
  if (marker == std::string::npos && run == 4) marker = templ.size() - 4;
  *templateOk = marker != std::string::npos;
  if (!*templateOk) return "";

  // The page's parts, token by token.
  std::vector<Tok> p = Pieces(page);
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
    he = page.size();
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
    be = page.size();
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
