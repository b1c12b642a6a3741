#include "tests/html_reference.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char Low(char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

enum Kind { kText, kComment, kStart, kEnd, kRaw };

// An attribute: its name in lower case, where it ends, and its value with
// its quotes [start, end) and inside them [in, out).
struct Attr {
  std::string name;
  std::size_t nameEnd = 0;
  bool hasValue = false;
  std::size_t start = 0, end = 0, in = 0, out = 0;
};

struct Tok {
  Kind kind;
  std::size_t start;
  std::size_t end;
  std::string name;
  std::vector<Attr> attrs;
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
std::size_t TagEnd(const std::string& s, std::size_t k,
                   std::vector<Attr>* attrs) {
  const std::size_t n = s.size();
  auto nameByte = [&](std::size_t at) {
    return !Blank(s[at]) && s[at] != '/' && s[at] != '=' && s[at] != '>';
  };
  for (;;) {
    while (k < n && (Blank(s[k]) || s[k] == '/')) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] == '>') return k + 1;
    Attr a;
    a.name += Low(s[k++]);  // the name's first byte
    while (k < n && nameByte(k)) a.name += Low(s[k++]);
    a.nameEnd = k;
    attrs->push_back(a);
    while (k < n && Blank(s[k])) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] != '=') continue;
    ++k;
    while (k < n && Blank(s[k])) ++k;
    if (k >= n) return std::string::npos;
    if (s[k] == '>') continue;
    Attr& v = attrs->back();
    v.hasValue = true;
    v.start = k;
    if (s[k] == '"' || s[k] == '\'') {
      std::size_t close = s.find(s[k], k + 1);
      if (close == std::string::npos) return close;
      v.in = k + 1;
      v.out = close;
      k = close + 1;
    } else {
      v.in = k;
      while (k < n && !Blank(s[k]) && s[k] != '>') ++k;
      v.out = k;
    }
    v.end = k;
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
      out.push_back({kRaw, i, n, "", {}});
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
      std::vector<Attr> attrs;
      std::size_t end = TagEnd(s, j + 2 + raw.size(), &attrs);
      if (end == none) {
        *cut = out.back().start;
        out.pop_back();
        return out;
      }
      out.push_back({kRaw, i, j, "", {}});
      out.push_back({kEnd, j, end, raw, attrs});
      i = end;
      raw.clear();
      continue;
    }
    if (s[i] != '<' || i + 1 == n) {
      out.push_back({kText, i, i + 1, "", {}});
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
      if (end != none) out.push_back({kComment, i, end, "", {}});
    } else if (c == '!' || c == '?' || (c == '/' && !endTag)) {
      std::size_t gt = i + 2 <= n ? s.find('>', i + 2) : none;
      if (gt != none) {
        end = gt + 1;
        out.push_back({kComment, i, end, "", {}});
      }
    } else if (Letter(c) || endTag) {
      std::size_t k = i + (endTag ? 2 : 1);
      std::string name;
      while (k < n && !Blank(s[k]) && s[k] != '/' && s[k] != '>') {
        name += Low(s[k++]);
      }
      std::vector<Attr> attrs;
      end = TagEnd(s, k, &attrs);
      if (end != none) {
        out.push_back({endTag ? kEnd : kStart, i, end, name, attrs});
        if (!endTag &&
            In(name, {"script", "style", "title", "textarea", "xmp", "iframe",
                      "noembed", "noframes", "noscript", "plaintext"})) {
          raw = name;
        }
      }
    } else {
      out.push_back({kText, i, i + 1, "", {}});
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

// The template's head tag, body tag and marker, as offsets, and the index
// of the body tag's piece.
struct Marks {
  std::size_t head = std::string::npos, body = std::string::npos,
              marker = std::string::npos, bodyPiece = 0;
};

Marks MarksOf(const std::string& templ, const std::vector<Tok>& t,
              std::size_t templCut) {
  Marks m;
  std::size_t run = 0;
  for (std::size_t k = 0; k < t.size(); ++k) {
    const Tok& x = t[k];
    if (m.head == std::string::npos) {
      if (x.kind == kStart && x.name == "body") break;
      if (x.kind == kStart && x.name == "head") m.head = x.start;
    } else if (m.body == std::string::npos) {
      if (x.kind == kStart && x.name == "body") {
        m.body = x.start;
        m.bodyPiece = k;
      }
    } else if (x.kind == kText && templ[x.start] == '#') {
      ++run;
      continue;
    } else if (run == 4 && !(x.kind == kText && templ[x.start] == '#')) {
      m.marker = x.start - 4;
      break;
    }
    run = 0;
  }
  if (m.marker == std::string::npos && run == 4) m.marker = templCut - 4;
  return m;
}

// A page's head part [hs, he) and body part [bs, be), and the index of the
// piece the body part begins with (or after: its body tag).
struct Parts {
  std::size_t hs = 0, he = 0, bs = 0, be = 0, bodyPiece = 0;
};

Parts PartsOf(const std::string& page, const std::vector<Tok>& p,
              std::size_t cut) {
  Parts r;
  std::size_t i = 0;
  const std::size_t n = p.size();
  while (i < n &&
         (Filler(p[i], page) || (p[i].kind == kStart && p[i].name == "html") ||
          (p[i].kind == kEnd && !Ends(p[i], {"body", "html", "br"})))) {
    ++i;
  }
  bool inBody = false;
  if (i < n && HeadElement(p[i])) {
    r.hs = p[i].start;
    r.he = cut;
    for (++i; i < n; ++i) {
      const Tok& x = p[i];
      if (Ends(x, {"head"})) {
        r.he = x.end;
        ++i;
        break;
      }
      bool stays = x.kind == kComment || x.kind == kRaw ||
                   (x.kind == kText && Blank(page[x.start])) ||
                   (x.kind == kStart && (x.name == "html" || HeadElement(x))) ||
                   (x.kind == kEnd && !Ends(x, {"body", "html", "br"}));
      if (!stays) {
        r.he = x.start;
        break;
      }
    }
  }
  while (i < n && Filler(p[i], page)) ++i;
  r.bodyPiece = i;
  if (i < n) {
    inBody = true;
    r.bs = p[i].kind == kStart && p[i].name == "body" ? p[i++].end : p[i].start;
    r.be = cut;
    for (; i < n; ++i) {
      if (Ends(p[i], {"body", "html"})) {
        r.be = p[i].start;
        break;
      }
    }
  }
  if (!inBody) r.bs = r.be = 0;
  if (r.he < r.hs) r.he = r.hs;
  return r;
}

// Both files in pieces, the template's landmarks and the page's parts.
struct Both {
  std::vector<Tok> t, p;
  Marks m;
  Parts r;
};

// False when the template lacks a landmark.
bool ReadBoth(const std::string& templ, const std::string& page, Both* b) {
  std::size_t templCut = 0;
  b->t = Pieces(templ, &templCut);
  b->m = MarksOf(templ, b->t, templCut);
  if (b->m.marker == std::string::npos) return false;
  std::size_t cut = 0;
  b->p = Pieces(page, &cut);
  b->r = PartsOf(page, b->p, cut);
  return true;
}

}  // namespace

std::string ReferenceHtmlMerge(const std::string& templ,
                               const std::string& page, bool* templateOk) {
  Both b;
  *templateOk = ReadBoth(templ, page, &b);
  if (!*templateOk) return "";
  const Marks& m = b.m;
  const Parts& r = b.r;
  return templ.substr(0, m.head) + page.substr(r.hs, r.he - r.hs) +
         templ.substr(m.body, m.marker - m.body) +
         page.substr(r.bs, r.be - r.bs) + templ.substr(m.marker + 4);
}

namespace {

const Attr* First(const Tok& t, const std::string& name) {
  for (const Attr& a : t.attrs) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s) c = Low(c);
  return s;
}

bool Declares(const Tok& t, const std::string& s) {
  if (t.kind != kStart || t.name != "meta") return false;
  if (First(t, "charset") != nullptr) return true;
  const Attr* e = First(t, "http-equiv");
  return e != nullptr && e->hasValue &&
         Lower(s.substr(e->in, e->out - e->in)) == "content-type";
}

bool Relative(const std::string& url) {
  std::size_t i = 0;
  while (i < url.size() && Blank(url[i])) ++i;
  if (i == url.size() || url[i] == '/' || url[i] == '#' || url[i] == '?') {
    return false;
  }
  if (!Letter(url[i])) return true;
  std::size_t k = i + 1;
  while (k < url.size() &&
         (Letter(url[k]) || (url[k] >= '0' && url[k] <= '9') || url[k] == '+' ||
          url[k] == '-' || url[k] == '.')) {
    ++k;
  }
  return !(k < url.size() && url[k] == ':');
}

struct Change {
  std::size_t from, to;
  std::string text;
};

}  // namespace

std::string ReferenceLayoutMerge(const std::string& templ,
                                 const std::string& page, int depth,
                                 bool* templateOk) {
  Both b;
  *templateOk = ReadBoth(templ, page, &b);
  if (!*templateOk) return "";
  const std::vector<Tok>& t = b.t;
  const std::vector<Tok>& p = b.p;
  const Marks& m = b.m;
  const Parts& r = b.r;

  // The template's head: from its head tag to its first </head> or its
  // body tag.
  std::size_t headEnd = m.body, first = 0;
  while (t[first].start != m.head) ++first;
  for (std::size_t k = first + 1; k < m.bodyPiece; ++k) {
    if (t[k].kind == kEnd && t[k].name == "head") {
      headEnd = t[k].start;
      break;
    }
  }
  const Tok* html = nullptr;
  const Tok* title = nullptr;
  std::size_t titleEnd = 0;
  bool declares = false, based = false;
  for (std::size_t k = 0; k < m.bodyPiece; ++k) {
    const Tok& x = t[k];
    if (html == nullptr && x.kind == kStart && x.name == "html") html = &x;
    if (k <= first || x.start >= headEnd) continue;
    if (title == nullptr && x.kind == kStart && x.name == "title") {
      title = &x;
      titleEnd = t[k + 2].end;  // its text, then its end tag
    }
    declares |= Declares(x, templ);
    based |= x.kind == kStart && x.name == "base" && First(x, "href");
  }

  // The page's html tag before its body part, and its head elements.
  const Tok* pageHtml = nullptr;
  bool pageTitle = false;
  std::string headElements;
  std::size_t from = r.hs;
  for (std::size_t k = 0; k < p.size() && k < r.bodyPiece; ++k) {
    const Tok& x = p[k];
    if (pageHtml == nullptr && x.kind == kStart && x.name == "html") {
      pageHtml = &x;
    }
    if (x.start < r.hs || x.end > r.he || r.he == r.hs) continue;
    pageTitle |= x.kind == kStart && x.name == "title";
    bool own = (x.start == r.hs && x.kind == kStart && x.name == "head") ||
               (x.end == r.he && x.kind == kEnd && x.name == "head");
    if (own || (declares && Declares(x, page))) {
      headElements += page.substr(from, x.start - from);
      from = x.end;
    }
  }
  if (r.he > from) headElements += page.substr(from, r.he - from);

  std::vector<Change> changes;
  for (const char* name : {"lang", "dir"}) {
    const Attr* ours = pageHtml ? First(*pageHtml, name) : nullptr;
    if (html == nullptr || ours == nullptr || !ours->hasValue) continue;
    std::string value = page.substr(ours->start, ours->end - ours->start);
    const Attr* theirs = First(*html, name);
    if (theirs == nullptr) {
      changes.push_back({html->start + 5, html->start + 5,
                         std::string(" ") + name + "=" + value});
    } else if (theirs->hasValue) {
      changes.push_back({theirs->start, theirs->end, value});
    } else {
      changes.push_back({theirs->nameEnd, theirs->nameEnd, "=" + value});
    }
  }
  if (pageTitle && title != nullptr) {
    changes.push_back({title->start, titleEnd, ""});
  }
  changes.push_back({headEnd, headEnd, headElements});
  changes.push_back({m.marker, m.marker + 4, page.substr(r.bs, r.be - r.bs)});

  std::string prefix;
  for (int i = 0; i < depth; ++i) prefix += "../";
  for (const Tok& x : t) {
    if (depth == 0 || based || (x.kind != kStart && x.kind != kEnd)) continue;
    for (const Attr& a : x.attrs) {
      if (!a.hasValue || a.in == a.out) continue;
      std::string v = templ.substr(a.in, a.out - a.in);
      std::vector<std::pair<std::size_t, std::string>> urls;
      if (a.name == "srcset") {
        std::size_t c = 0;
        while (c <= v.size()) {
          std::size_t comma = std::min(v.find(',', c), v.size());
          std::size_t u = c;
          while (u < comma && Blank(v[u])) ++u;
          std::size_t e = u;
          while (e < comma && !Blank(v[e])) ++e;
          if (e > u) urls.push_back({u, v.substr(u, e - u)});
          c = comma + 1;
        }
      } else if (In(a.name, {"href", "src", "action", "formaction", "poster",
                             "data", "background"})) {
        std::size_t u = 0;
        while (u < v.size() && Blank(v[u])) ++u;
        urls.push_back({u, v});
      }
      for (const auto& [at, url] : urls) {
        if (Relative(url)) changes.push_back({a.in + at, a.in + at, prefix});
      }
    }
  }
  std::stable_sort(
      changes.begin(), changes.end(),
      [](const Change& a, const Change& b) { return a.from < b.from; });
  std::string out;
  std::size_t at = 0;
  for (const Change& c : changes) {
    if (c.from < at) continue;  // in what an earlier change left out
    out += templ.substr(at, c.from - at) + c.text;
    at = std::max(at, c.to);
  }
  return out + templ.substr(at);
}
