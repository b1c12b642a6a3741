// A plain in-memory version of the HTML mode's rules, written from them
// directly and without streaming, that the program's merge is checked
// against on random pages.
#ifndef TESTS_HTML_REFERENCE_H_
#define TESTS_HTML_REFERENCE_H_

#include <string>

// The merged page of the HTML mode. *templateOk is false, and nothing is
// given, when the template lacks its head tag, body tag or marker.
std::string ReferenceHtmlMerge(const std::string& templ,
                               const std::string& page, bool* templateOk);

// The merged page of the layout mode, for a page `depth` folders below the
// site's root.
std::string ReferenceLayoutMerge(const std::string& templ,
                                 const std::string& page, int depth,
                                 bool* templateOk);

#endif  // TESTS_HTML_REFERENCE_H_
