// What a merge did not find in its two pages, and the warnings that tell the
// user: the landmarks the merge phases look for, the first one each page
// lacked, and the nearest miss of it, found by reading the page again.
#ifndef MERGE_LANDMARKS_H_
#define MERGE_LANDMARKS_H_

#include <cstdint>
#include <string>

#include "merge/token_reader.h"

// A landmark a phase looks for and may not find.
enum class Missing {
  kNone,
  kHeadTag,          // <head> (the template's, or the page's)
  kHeadEnd,          // the page's </head>
  kBodyTag,          // <body ...> (the template's, or the page's)
  kBodyTagUnclosed,  // the template's <body ... with no '>' after it
  kBodyEnd,          // the page's </body>
  kMarker,           // the template's "####"
  kBodyContent,      // HTML mode: text, but an empty body part
};

// Which file of a merge a finding is about.
enum class Role { kTemplate, kPage };

// The first landmark a file lacked (the phases after it on that file have
// nothing to do), and how many characters of the file were read before
// the phase that looked for it.
struct Lack {
  Missing kind = Missing::kNone;
  std::uint64_t from = 0;
};

// What the HTML mode's reader found the file ending inside.
enum class Cut {
  kNone,
  kTag,          // a start or end tag
  kComment,      // a comment, or markup read as one (<!x, <?x, </1)
  kElement,      // an element read whole (script, style...) never ended
  kElementText,  // the same, for a title or textarea, whose text is shown
};

// Where the file ended inside markup: its text ends at `at`, and what
// stands there and after it belongs to no part of the page.
struct Unended {
  Cut kind = Cut::kNone;
  std::uint64_t at = UINT64_MAX;
  std::string element;  // kElement, kElementText: the element's name
};

// A page that declares another character set than its template: where its
// declaration stands, and the names of both sets.
struct CharsetClash {
  std::uint64_t at = UINT64_MAX;  // none
  std::string page;
  std::string templ;
};

// What one merge did not find.
struct Findings {
  Lack templ;
  Lack page;
  Unended pageCut;       // where the page's parts were cut short, if they were
  CharsetClash charset;  // the layout mode
};

// True when the lack keeps part of the page or of the template's frame out
// of the merged page: the page's head or body tag, the template's body tag,
// or a template body tag never closed (the page's body lands inside it).
// The other lacks only misplace content.
bool LosesContent(Role role, Missing kind);

// The nearest miss of a landmark: text that almost is the landmark, where
// it stands and why it was not taken.
struct NearMiss {
  bool found = false;
  std::uint64_t line = 0;    // from 1
  std::uint64_t column = 0;  // from 1, in bytes
  std::string quote;         // at most 20 characters of it, shown safely
  const char* reason = "";
};

// Reads `in` from its start to find the first near miss of `kind` at or
// after character `from`: a tag in another letter case, glued to the tag
// before or after it, with something inside it that the rules do not
// allow, a marker of five '#' or more, or one that a '#' before it hides.
// For kBodyTagUnclosed, the body tag itself. Reads in constant memory.
NearMiss FindNearMiss(Source& in, Role role, Missing kind, std::uint64_t from);

// The warning for `lack` in the file shown as `shownName`, in the form
// editors read: "FILE:LINE:COLUMN: warning: TEXT" at the nearest miss, when
// one was found, else "FILE: warning: TEXT"; "error" for a lack that loses
// content. It says what was not found, what became of the page and why the
// miss was not taken; `htmlKeeps`: that --html would keep the page's
// content. For instance:
//   rk.html:1:1: error: no head tag found, so nothing of the page was
//   merged ("<head><meta charset=..." - the tag must be followed by a blank
//   or a line end); with --html the page keeps its content
std::string Warning(const std::string& shownName, Role role, Missing kind,
                    const NearMiss& miss, bool htmlKeeps);

// The start of a warning or error about the file shown as `shownName`:
// "FILE:LINE:COLUMN: warning: " at `at` when it was found, else
// "FILE: warning: "; "error" when `error`.
std::string WarningHead(const std::string& shownName, const NearMiss& at,
                        bool error);

// The warning for a page whose parts were cut short at `cut`, in the same
// form; `at` says where, when it was found. For instance:
//   p.html:3:5: warning: the page ends inside a tag, so it and what follows
//   were dropped ("<a href=\"x..." - the file ends before its '>')
std::string CutWarning(const std::string& shownName, const Unended& cut,
                       const NearMiss& at);

// The warning for a page whose character set `clash` was left out, in the
// same form, at `at`.
std::string CharsetWarning(const std::string& shownName,
                           const CharsetClash& clash, const NearMiss& at);

// Reads `in` from its start to the character at `offset`, and gives its
// line, column and a quote of what stands there.
NearMiss FindPlace(Source& in, std::uint64_t offset);

// What was not found, in words: "no head tag found", "no marker #### found".
std::string NotFound(Missing kind);

#endif  // MERGE_LANDMARKS_H_
