// A plain, character-at-a-time version of the merge rules on standard
// streams, with none of the program's buffering: the yardstick that the
// program's merge is checked against.
#ifndef TESTS_REFERENCE_MERGE_H_
#define TESTS_REFERENCE_MERGE_H_

#include <istream>
#include <ostream>
#include <streambuf>
#include <string>

void ReferenceMerge(std::istream& templ, std::istream& input,
                    std::ostream& out);

// The same on whole pages held in strings.
std::string ReferenceMerge(const std::string& templ, const std::string& input);

// The program's own merge over two stream buffers, into a string.
std::string ProgramMerge(std::streambuf* templ, std::streambuf* input);

#endif  // TESTS_REFERENCE_MERGE_H_
