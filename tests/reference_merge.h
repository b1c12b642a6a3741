// A plain, character-at-a-time version of the merge rules on standard
// streams, with none of the program's buffering: the yardstick that the
// program's merge is checked against.
#ifndef TESTS_REFERENCE_MERGE_H_
#define TESTS_REFERENCE_MERGE_H_

#include <istream>
#include <ostream>

void ReferenceMerge(std::istream& templ, std::istream& input,
                    std::ostream& out);

#endif  // TESTS_REFERENCE_MERGE_H_
