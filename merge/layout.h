// The layout mode (--layout): the template is the whole merged page. The
// page's head elements go in before the template's closing head tag and its
// body part in place of the marker; its title, character set, language and
// direction take the template's place; and the template's relative links are
// rebased for a page below the site's root. Both files are read as the HTML
// mode reads them, and streamed in constant memory.
#ifndef MERGE_LAYOUT_H_
#define MERGE_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "merge/html_reader.h"
#include "merge/landmarks.h"
#include "merge/token_reader.h"
#include "platform/output.h"

// An attribute of an html tag, as written: the first of its name.
struct AttributeSpan {
  bool present = false;
  bool hasValue = false;
  std::uint64_t nameEnd = 0;
  // The value with its quotes.
  std::uint64_t valueStart = 0;
  std::uint64_t valueEnd = 0;
};

// What the layout mode must know of a template before writing it.
struct TemplateFrame {
  TemplateLandmarks marks;
  bool hasHtmlTag = false;  // its first html tag before its body tag
  std::uint64_t htmlTag = 0;
  AttributeSpan lang;
  AttributeSpan dir;
  // Where a page's head elements go: its first closing head tag after its
  // head tag, or its body tag.
  std::uint64_t headEnd = 0;
  // Its first title element in its head, [titleStart, titleEnd).
  bool hasTitle = false;
  std::uint64_t titleStart = 0;
  std::uint64_t titleEnd = 0;
  // Its head declares a character set; the name the first declaration
  // gives, in lower case.
  bool declares = false;
  std::string charset;
  bool based = false;            // its head has a base tag with an href
  std::uint64_t cut = kFileEnd;  // where its text ends inside markup
};

// Reads a template (its tokenizer finding markers) to its end.
TemplateFrame FindTemplateFrame(HtmlTokenizer& templ);

// What the layout mode must know of a page before writing the template's
// head: its parts, its html tag's lang and dir, whether its head elements
// hold a title, and the first declaration among them that names another set
// than the template's.
struct PageFrame {
  PageParts parts;
  AttributeSpan lang;
  AttributeSpan dir;
  bool hasTitle = false;
  CharsetClash clash;
};

// Reads a page up to the start of its body part, as FindPageParts does.
PageFrame FindPageFrame(HtmlTokenizer& page, const TemplateFrame& templ);

// The files of a layout merge: each read by its tokenizer, and read again
// from its start by a second source that writes what it passes.
struct LayoutFiles {
  HtmlTokenizer& templ;
  Source& templCopy;
  HtmlTokenizer& page;
  Source& pageCopy;
};

// Writes the merged page of the layout mode to `out`, for a page `depth`
// folders below the site's root. The template's tokenizer has read it to
// its end, the page's up to its body part.
Findings MergeLayout(const LayoutFiles& files, const TemplateFrame& templ,
                     const PageFrame& page, int depth, Sink& out);

// True when a URL is relative: after leading blanks it is not empty and
// begins with neither '/', '#', '?' nor a scheme and its ':'.
bool IsRelativeUrl(std::string_view url);

#endif  // MERGE_LAYOUT_H_
