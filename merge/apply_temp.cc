#include "merge/apply_temp.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

#include "merge/html_reader.h"
#include "merge/layout.h"
#include "merge/scan.h"
#include "platform/text.h"

namespace {

// One more than the longest word any phase compares: a word this long or
// longer matches nothing and is streamed through instead of held.
constexpr std::size_t kLongWord = 7;

// The head of the next word; `size` reaches kLongWord when the word is long.
struct WordHead {
  char text[kLongWord + 1];  // room for the '>' a body tag may gain
  std::size_t size = 0;
  std::string_view view() const { return std::string_view(text, size); }
};

bool IsOneOf(std::string_view word, Words words) {
  return IsStopWord(word.data(), word.size(), words);
}

// Passes the rest of a long word to `out`, or drops it when `out` is null.
void PassWordRest(Source& in, Sink* out) {
  for (std::string_view piece = TakeWordPiece(in); !piece.empty();
       piece = TakeWordPiece(in)) {
    if (out != nullptr) out->Write(piece);
  }
}

// Takes a word for a phase that skips words: a long word is consumed whole
// and comes back as its head, which matches no tag word.
WordHead TakeShortWord(Source& in) {
  WordHead w;
  w.size = TakeWordHead(in, w.text, kLongWord);
  if (w.size == kLongWord) PassWordRest(in, nullptr);
  return w;
}

// Copies characters to `out` until `trigger` is taken and the word after it
// is one of `stops`; that trigger and word are consumed and not written.
// The whitespace between a trigger and its word is lost. False when the
// source ran out first.
bool CopyUntil(Source& in, char trigger, Words stops, Sink& out) {
  const StopStarts starts = StartsOf(stops);
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    const char* begin = ahead.data();
    const char* end = begin + ahead.size();
    // A trigger whose word follows at once and ends inside the block is
    // written exactly as it stands, so such triggers need no work beyond
    // finding them: the block goes out as one run up to a stop word, or up
    // to a trigger that needs the careful path below.
    bool stop = false;
    const char* hit = FindStop(begin, end, trigger, stops, starts, &stop);
    if (hit == nullptr) {
      out.Write(begin, end - begin);
      Skip(in, end - begin);
      continue;
    }
    out.Write(begin, hit - begin);
    if (stop) {
      Skip(in, hit + 1 - begin);
      TakeWordPiece(in);  // the stop word, which ends inside the block
      return true;
    }
    // Whitespace after the trigger, or a word that may go on past the
    // block: take the word through the reader.
    Skip(in, hit + 1 - begin);
    WordHead w;
    w.size = TakeWordHead(in, w.text, kLongWord);
    if (w.size < kLongWord && IsOneOf(w.view(), stops)) return true;
    out.Write(&trigger, 1);
    out.Write(w.view());
    if (w.size == kLongWord) PassWordRest(in, &out);
  }
  return false;
}

// Takes characters up to and including `last`, passing them to `out` unless
// it is null; false when the source ran out first.
bool PassThrough(Source& in, char last, Sink* out) {
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    const void* hit = std::memchr(ahead.data(), last, ahead.size());
    std::size_t run = hit == nullptr
                          ? ahead.size()
                          : static_cast<const char*>(hit) - ahead.data() + 1;
    if (out != nullptr) out->Write(ahead.data(), run);
    Skip(in, run);
    if (hit != nullptr) return true;
  }
  return false;
}

// Skips the input up to its head tag, which is written in its own case.
// False when there is none.
bool CopyHeadTag(Source& input, Sink& out) {
  while (Look(input) != kEndOfInput) {
    WordHead w = TakeShortWord(input);
    if (IsOneOf(w.view(), {"<head>", "<HEAD>"})) {
      out.Write(w.view());
      return true;
    }
  }
  return false;
}

// Skips words up to a body tag. When `out` is set the tag is written in
// lower case: "<body>" alone, or "<body ", a newline and the attributes as
// they stand, closing '>' included. When `out` is null the tag is dropped.
// Gives kNone when the source ends first: kBodyTag when it had no body tag,
// kBodyTagUnclosed when the tag's attributes ran to the end.
Missing CopyBodyTag(Source& in, Sink* out) {
  bool hasBodyTag = false;
  Missing missing = Missing::kBodyTag;
  while (Look(in) != kEndOfInput) {
    WordHead w = TakeShortWord(in);
    if (IsOneOf(w.view(), {"<body", "<BODY"})) {
      if (out != nullptr) {
        out->Write("<body \n");
        hasBodyTag = true;
      }
      if (PassThrough(in, '>', out)) w.text[w.size++] = '>';
      missing = Missing::kBodyTagUnclosed;
    }
    if (IsOneOf(w.view(), {"<body>", "<BODY>"})) {
      if (out != nullptr && !hasBodyTag) out->Write("<body>");
      return Missing::kNone;
    }
  }
  return missing;
}

// Keeps the first landmark a source lacks: the phases after it on that
// source have nothing to do, and what they miss follows from it.
void Note(Lack* lack, std::uint64_t from, Missing kind) {
  if (lack->kind != Missing::kNone) return;
  lack->kind = kind;
  lack->from = from;
}

void CopyRest(Source& in, Sink& out) {
  for (std::string_view ahead = Ahead(in); !ahead.empty(); ahead = Ahead(in)) {
    out.Write(ahead);
    Skip(in, ahead.size());
  }
}

// The parts of a name between its separators, "." and empty parts dropped
// and ".." resolved; false when ".." climbs above the name's start.
bool NameParts(std::string_view name, std::vector<std::string_view>* parts) {
  parts->clear();
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::string_view part = name.substr(start, end - start);
    if (part == "..") {
      if (parts->empty()) return false;
      parts->pop_back();
    } else if (!part.empty() && part != ".") {
      parts->push_back(part);
    }
    start = end + 1;
  }
  return true;
}

// True for a name that starts from a root rather than the current folder:
// "/x", and on Windows also "\\x", "C:x" and "C:\\x".
bool IsAbsolute(const std::string& name) {
  if (!name.empty() && IsSeparator(name[0])) return true;
  return TEXT_MODE_FILES && name.size() >= 2 && name[1] == ':';
}

// The output at `parts` below the output folder.
OutputPlan PlanOf(const MergeRun& run,
                  const std::vector<std::string_view>& parts) {
  OutputPlan plan;
  plan.name = OutFolder(run);
  for (std::string_view part : parts) {
    if (plan.name.empty() || !IsSeparator(plan.name.back())) {
      plan.name += kSeparator;
    }
    plan.name += part;
  }
  plan.depth = parts.empty() ? 0 : static_cast<int>(parts.size()) - 1;
  return plan;
}

// Reads the file `name` again from its start, when it can be opened.
template <typename Read>
void ReadAgain(const std::string& name, Read read) {
  FileHandle file = OpenForReading(name, nullptr);
  if (!file.valid()) return;
  Source again(std::move(file), Decoder(TEXT_MODE_FILES, false),
               kSmallBlockSize);
  read(again);
}

// True when the HTML mode finds a body part in the page `name`, so that it
// would keep the content the word rules lost or misplaced.
bool HtmlKeeps(const std::string& name) {
  bool keeps = false;
  ReadAgain(name, [&](Source& page) {
    HtmlTokenizer tokens(page, false);
    keeps = FindPageParts(tokens).bodyStart != kFileEnd;
  });
  return keeps;
}

// Warns that the file `name` lacks a landmark, with the nearest miss that
// a second reading of the file finds.
void Warn(const MergeRun& run, const std::string& name, Role role,
          const Lack& lack) {
  NearMiss miss;
  ReadAgain(name, [&](Source& again) {
    miss = FindNearMiss(again, role, lack.kind, lack.from);
  });
  bool htmlKeeps = !run.mode.html && role == Role::kPage && HtmlKeeps(name);
  WriteErrorLine(Warning(ShownName(name), role, lack.kind, miss, htmlKeeps));
}

// Warns that the page `name` ends inside markup, naming its line.
void WarnCut(const std::string& name, const Unended& cut) {
  NearMiss at;
  ReadAgain(name, [&](Source& again) { at = FindPlace(again, cut.at); });
  WriteErrorLine(CutWarning(ShownName(name), cut, at));
}

// Warns that the page `name` declares another character set than its
// template, naming its line.
void WarnCharset(const std::string& name, const CharsetClash& clash) {
  NearMiss at;
  ReadAgain(name, [&](Source& again) { at = FindPlace(again, clash.at); });
  WriteErrorLine(CharsetWarning(ShownName(name), clash, at));
}

// Warns of what the merge did not find, and counts the page.
void Report(MergeRun& run, const Findings& found,
            const std::string& templateName, const std::string& inputName) {
  MergeTally& tally = run.tally;
  ++tally.pages;
  bool lost = false;
  if (found.templ.kind != Missing::kNone) {
    lost |= LosesContent(Role::kTemplate, found.templ.kind);
    if (run.templatesWarned.insert(templateName).second) {
      Warn(run, templateName, Role::kTemplate, found.templ);
    }
  }
  if (found.page.kind != Missing::kNone) {
    lost |= LosesContent(Role::kPage, found.page.kind);
    Warn(run, inputName, Role::kPage, found.page);
  }
  if (found.pageCut.kind != Cut::kNone) WarnCut(inputName, found.pageCut);
  bool clash = found.charset.at != UINT64_MAX;
  if (clash) WarnCharset(inputName, found.charset);
  if (lost) {
    ++tally.lostContent;
  } else if (found.templ.kind != Missing::kNone ||
             found.page.kind != Missing::kNone ||
             found.pageCut.kind != Cut::kNone || clash) {
    ++tally.warned;
  }
}

// Finds the template's landmarks in the HTML mode (and what the layout
// mode must know), and rewinds it for the merge. A template without one is
// not used: standard error says which is missing, and the console says it
// could not be opened.
bool FindFrameOf(const MergeRun& run, HtmlTokenizer& tokens, Source& templ,
                 const std::string& name, TemplateFrame* frame) {
  if (run.mode.layout) {
    *frame = FindTemplateFrame(tokens);
  } else {
    frame->marks = FindTemplateLandmarks(tokens);
  }
  tokens.ReadFrom(0);
  const Missing missing = frame->marks.missing;
  if (templ.readError()) return true;  // said as a page cut short
  if (missing == Missing::kNone) return true;
  WriteErrorLine(WarningHead(ShownName(name), NearMiss(), true) +
                 NotFound(missing) + ", so the template was not used");
  run.Say("Could not open " + ShownName(name));
  return false;
}

// The merged page of the HTML mode: the template up to its head tag, the
// page's head part, the template from its body tag to its marker, the
// page's body part, and the template after the marker. The page has been
// read up to its body part, whose end is found as it is copied.
Findings MergeParts(Source& templ, const TemplateLandmarks& marks,
                    HtmlTokenizer& page, const PageParts& parts, Sink& out) {
  // A page read to its end without a body part may have been cut short.
  const Unended cut = page.unended();
  Transfer(templ, 0, marks.headTag, out);
  if (parts.headEnd > parts.headStart) {
    page.Copy(parts.headStart, parts.headEnd, out);
  }
  Transfer(templ, marks.bodyTag, marks.marker, out);
  std::uint64_t bodyEnd = parts.bodyStart;
  if (parts.bodyStart != kFileEnd) {
    page.ReadFrom(parts.bodyStart);
    bodyEnd = page.CopyToBodyEnd(out);
  }
  Transfer(templ, marks.marker + 4, kFileEnd, out);
  Findings found;
  found.pageCut = cut.kind != Cut::kNone ? cut : page.unended();
  // A page without a body part has been read to its end already.
  if (bodyEnd == parts.bodyStart &&
      (parts.hasText || (parts.bodyStart != kFileEnd && HasTextAhead(page)))) {
    found.page.kind = Missing::kBodyContent;
  }
  return found;
}

// Refuses the output with two console lines: it cannot be opened, and what
// to do; with reasons, `why` on standard error too.
bool Refuse(const MergeRun& run, const std::string& outputName,
            const std::string& advice, const std::string& why) {
  run.SayFailure("Could not open ", outputName, why);
  run.Say(advice);
  return false;
}

// Makes the folders of an output of --out that are not there yet, from the
// first part of its name down (in a check, only looks); false, with the
// folder and the reason, when one cannot be made.
bool PrepareFolders(const MergeRun& run, const std::string& outputName,
                    std::string* folder, int* error) {
  for (std::size_t at = 1; at < outputName.size(); ++at) {
    if (!IsSeparator(outputName[at]) || IsSeparator(outputName[at - 1])) {
      continue;
    }
    *folder = outputName.substr(0, at);
    if (TEXT_MODE_FILES && folder->size() == 2 && (*folder)[1] == ':') {
      continue;  // a drive
    }
    PathKind kind = KindOfPath(*folder);
    if (kind == PathKind::kFolder) continue;
    if (run.mode.checkOnly) {
      *error = ENOTDIR;
      return kind == PathKind::kMissing;  // what is missing would be made
    }
    if (!MakeOutputFolder(*folder)) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// True when two names of inputs name one file: the same once "." and ".."
// are resolved, or leading to the same file.
bool SameInput(const std::string& a, const std::string& b) {
  std::vector<std::string_view> partsA, partsB;
  if (NameParts(a, &partsA) && NameParts(b, &partsB) && partsA == partsB) {
    return true;
  }
  std::string fullA = FullPath(a);
  return !fullA.empty() && fullA == FullPath(b);
}

// What --out adds before an output is opened: no other input of the run
// led to it, and its folders are there or can be made. Says why not.
bool ClaimOutput(MergeRun& run, const std::string& outputName,
                 const std::string& inputName) {
  if (run.outDir.empty()) return true;
  const std::string key = OutputKey(run, outputName);
  const std::string* first = &inputName;
  if (run.claimed != nullptr) {
    auto found = run.claimed->find(key);
    if (found != run.claimed->end()) first = &found->second;
  } else {
    first = &run.outputs.emplace(key, inputName).first->second;
  }
  if (!SameInput(*first, inputName)) {
    return Refuse(
        run, outputName,
        "The output file would overwrite the output of " + ShownName(*first),
        "it is the output of " + ShownName(*first) + " too");
  }
  std::string folder;
  int error = 0;
  // Most outputs go where the one before went.
  if (FolderOf(outputName) == run.foldersReady) return true;
  if (!PrepareFolders(run, outputName, &folder, &error)) {
    return Refuse(run, outputName,
                  "The folder " + ShownName(folder) +
                      " could not be made: " + ErrorText(error),
                  ErrorText(error));
  }
  run.foldersReady = FolderOf(outputName);
  return true;
}

// Creates the file that will replace the output, unless the output is a file
// being read or lies outside its folder; writes the console lines for
// either outcome up to the end of the output's part of the message (a copy
// says its line once it is done). In a check, only what --out adds is
// checked.
bool OpenOutput(MergeRun& run, const OutputPlan& plan,
                const std::string& inputName,
                const FileIdentity* const (&reading)[3], Sink& out,
                bool* othersWritten, bool copy) {
  const std::string& outputName = plan.name;
  const std::string folder = run.outDir.empty() ? "temb" : OutFolder(run);
  if (!plan.inside) {
    return Refuse(
        run, outputName,
        "The output file would be outside the folder " + ShownName(folder),
        "it would be outside the folder " + ShownName(folder));
  }
  if (!ClaimOutput(run, outputName, inputName)) return false;
  if (run.mode.checkOnly) return true;
  OutputCheck check = out.CreateReplacement(outputName, reading, 3);
  // Pages of the group that waited for this output's file went first.
  *othersWritten = run.SayUnwritten();
  switch (check) {
    case OutputCheck::kBeingRead:
      return Refuse(run, outputName,
                    "The output file would overwrite the template or the input",
                    "it is the template or the input");
    case OutputCheck::kCannotCreate:
      return Refuse(
          run, outputName,
          run.outDir.empty()
              ? "Please make sure you have a folder called temb in "
                "the current directory"
              : "The output file could not be made: " + ErrorText(out.error()),
          ErrorText(out.error()));
    case OutputCheck::kReady:
      break;
  }
  if (!copy && !run.quiet) {
    WriteText("Successfully opened " + ShownName(outputName) +
              " (Output file)");
  }
  return true;
}

// Opens a page for reading, saying so when it cannot.
FileHandle OpenPage(const MergeRun& run, const std::string& name,
                    FileIdentity* id) {
  FileHandle file = OpenForReading(name, id);
  if (!file.valid()) run.SayFailure("Could not open ", name, ErrorText(errno));
  return file;
}

// Says so when a read error cut a page short; true when none did.
bool ReadWhole(const MergeRun& run, const Source& page,
               const std::string& name) {
  if (page.readError()) {
    run.SayFailure("Could not read ", name, ErrorText(page.readErrorCode()));
  }
  return !page.readError();
}

// Opens the input. One that an earlier page of the list replaces is read
// as the list left it.
FileHandle OpenInput(const MergeRun& run, const std::string& name,
                     FileIdentity* id) {
  FileHandle file = OpenPage(run, name, id);
  if (!file.valid() || !CommitIfWaiting(*id)) return file;
  // What the commit could not write fails the run when the group ends.
  run.SayUnwritten();
  file.Close();
  return OpenPage(run, name, id);
}

// The names of a merge's two pages.
struct PageNames {
  const std::string& templ;
  const std::string& input;
};

// A file opened again by its name to be read from its start a second time;
// not valid, with the reason in *error, when it cannot be, or when the name
// now leads to another file.
FileHandle OpenAgain(const std::string& name, const FileIdentity& id,
                     int* error) {
  FileIdentity again;
  FileHandle file = OpenForReading(name, &again);
  if (!file.valid()) {
    *error = errno;
  } else if (id.known &&
             (again.device != id.device || again.index != id.index)) {
    file.Close();
    *error = kFileReplaced;
  }
  return file;
}

// The two files of a merge, each with its tokenizer; in the layout mode a
// second source of each as well, which writes what it reads again.
struct MergeFiles {
  const PageNames& names;
  HtmlTokenizer& templTokens;
  Source& templ;
  Source& input;
  const FileIdentity* const (&reading)[3];
};

// A second source of a file for the layout mode, with small blocks: it only
// streams what it passes to the output. `error` says why it could not be
// opened.
struct CopyOf {
  std::unique_ptr<Source> source;
  int error = 0;

  CopyOf(const std::string& name, const FileIdentity& id) {
    FileHandle file = OpenAgain(name, id, &error);
    source = std::make_unique<Source>(
        std::move(file), Decoder(TEXT_MODE_FILES, false), kSmallBlockSize);
  }
};

// ReadWhole for a file and, when it has one, its second source.
bool ReadBoth(const MergeRun& run, const Source& file,
              const std::unique_ptr<CopyOf>& copy, const std::string& name) {
  if (!ReadWhole(run, file, name)) return false;
  if (copy == nullptr) return true;
  if (copy->error != 0) {
    run.SayFailure("Could not read ", name, ErrorText(copy->error));
    return false;
  }
  return ReadWhole(run, *copy->source, name);
}

// Finishes an output (`keep`: it may replace the earlier one) and says
// what could not be written: this output, and the pages of the group in
// place but not flushed. True when the output is opened, whole, written and
// every page is in place.
bool FinishOutput(const MergeRun& run, Sink& out, const std::string& outputName,
                  bool opened, bool whole, bool keep, bool othersWritten) {
  bool written = run.mode.checkOnly || out.Finish(keep);
  bool allPlaced = run.SayUnwritten() && othersWritten;
  if (!written && opened) {
    run.SayFailure("Could not write ", outputName, ErrorText(out.error()));
  }
  return opened && written && allPlaced && whole;
}

// Merges the open template and input into the output of the input's name,
// with its console lines, and reports what the merge did not find.
MergeOutcome MergeSources(MergeRun& run, const MergeFiles& files,
                          const TemplateFrame& frame, const OutputPlan& plan) {
  const PageNames& names = files.names;
  // The HTML mode reads the page up to its body part before the output is
  // opened, and the body part as it is copied.
  HtmlTokenizer pageTokens(files.input, false);
  PageFrame page;
  if (run.mode.layout) {
    page = FindPageFrame(pageTokens, frame);
  } else if (run.mode.html) {
    page.parts = FindPageParts(pageTokens);
  }
  const std::string& outputName = plan.name;
  // Every buffer is allocated before the temporary file is created.
  std::unique_ptr<CopyOf> templCopy, inputCopy;
  if (run.mode.layout) {
    templCopy = std::make_unique<CopyOf>(names.templ, *files.reading[0]);
    inputCopy = std::make_unique<CopyOf>(names.input, *files.reading[1]);
  }
  Sink out;
  bool opened = true;
  bool othersWritten = true;
  if (!run.mode.checkOnly || !run.outDir.empty()) {
    opened = OpenOutput(run, plan, names.input, files.reading, out,
                        &othersWritten, false);
  }
  if (!run.mode.checkOnly && !(opened && run.quiet)) {
    WriteLine(" and " + ShownName(names.input) + " (Input file)");
  }
  // Without an output the phases still run, their bytes dropped.
  Findings found =
      run.mode.layout ? MergeLayout({files.templTokens, *templCopy->source,
                                     pageTokens, *inputCopy->source},
                                    frame, page, plan.depth, out)
      : run.mode.html
          ? MergeParts(files.templ, frame.marks, pageTokens, page.parts, out)
          : MergePages(files.templ, files.input, out);
  // A page cut short by a read error must not replace the earlier one.
  bool templWhole = ReadBoth(run, files.templ, templCopy, names.templ);
  bool inputWhole = ReadBoth(run, files.input, inputCopy, names.input);
  bool whole = templWhole && inputWhole;
  bool done =
      FinishOutput(run, out, outputName, opened, whole, whole, othersWritten);
  run.tally.untouched += done && out.untouched();
  Report(run, found, names.templ, names.input);
  return done ? MergeOutcome::kWritten : MergeOutcome::kNotWritten;
}

}  // namespace

void MergeRun::Say(const std::string& line) const {
  if (mode.checkOnly) {
    WriteErrorLine("tembrix: " + line);
  } else {
    WriteLine(line);
  }
}

void MergeRun::SayFailure(const char* what, const std::string& name,
                          const std::string& why) const {
  Say(what + ShownName(name));
  if (reasons) WriteErrorLine("tembrix: " + ShownName(name) + ": " + why);
}

bool MergeRun::SayUnwritten() const {
  std::vector<Unwritten> pages = TakeUnwritten();
  for (const Unwritten& page : pages) {
    if (!page.replaced) {
      SayFailure("Could not write ", page.outputName, ErrorText(page.error));
      continue;
    }
    WriteErrorLine(WarningHead(ShownName(page.outputName), NearMiss(), true) +
                   "the page was replaced, but its folder could not be "
                   "flushed to the disk: " +
                   ErrorText(page.error));
  }
  return pages.empty();
}

std::string OutputName(const std::string& inputName) {
  return OUTPUT_PREFIX + CutName(inputName, MAXCHARS);
}

Findings MergePages(Source& templ, Source& input, Sink& out) {
  Findings found;
  std::uint64_t at = Offset(templ);
  // The '<' is taken before the word, so the head tag arrives as "head>".
  bool head = CopyUntil(templ, '<', {"head>", "HEAD>"}, out);
  Note(&found.templ, at, head ? Missing::kNone : Missing::kHeadTag);
  at = Offset(input);
  head = CopyHeadTag(input, out);
  Note(&found.page, at, head ? Missing::kNone : Missing::kHeadTag);
  at = Offset(input);
  bool headEnd = CopyUntil(input, '<', {"/HEAD>", "/head>"}, out);
  Note(&found.page, at, headEnd ? Missing::kNone : Missing::kHeadEnd);
  at = Offset(templ);
  Note(&found.templ, at, CopyBodyTag(templ, &out));
  at = Offset(templ);
  bool marker = CopyUntil(templ, '#', {"###"}, out);
  Note(&found.templ, at, marker ? Missing::kNone : Missing::kMarker);
  at = Offset(input);
  Note(&found.page, at, CopyBodyTag(input, nullptr));
  at = Offset(input);
  bool bodyEnd =
      CopyUntil(input, '<', {"/body", "/BODY", "/body>", "/BODY>"}, out);
  Note(&found.page, at, bodyEnd ? Missing::kNone : Missing::kBodyEnd);
  CopyRest(templ, out);
  return found;
}

namespace {

// Merges the open template (`templId` its identity) with the input.
MergeOutcome MergeWithTemplate(MergeRun& run, const std::string& templateName,
                               Source& templ, const FileIdentity& templId,
                               const std::string& inputName,
                               const FileIdentity* alsoReading,
                               const OutputPlan* plan) {
  HtmlTokenizer templTokens(templ, true);
  TemplateFrame frame;
  if (run.mode.html &&
      !FindFrameOf(run, templTokens, templ, templateName, &frame)) {
    return MergeOutcome::kNotOpened;
  }
  FileIdentity inputId;
  FileHandle inputFile = OpenInput(run, inputName, &inputId);
  // The template closes as `templ` goes.
  if (!inputFile.valid()) return MergeOutcome::kNotOpened;
  Source input(std::move(inputFile));
  const FileIdentity* const reading[3] = {&templId, &inputId, alsoReading};
  PageNames names{templateName, inputName};
  return MergeSources(run, {names, templTokens, templ, input, reading}, frame,
                      plan != nullptr ? *plan : PlanOutput(run, inputName));
}

// The template as the page before read it, when its file has not changed
// since: a page never gets a frame the file no longer holds.
bool KeptIsCurrent(const MergeRun& run, const std::string& templateName) {
  return !run.kept.name.empty() && run.kept.name == templateName &&
         SameState(run.kept.state, StateOfFile(templateName));
}

// Opens the template of a merge: nothing to open when the one kept in
// memory is current; else its file, which is read whole and kept when it is
// settled and small, as templates are (the layout mode reads its template
// again by name, and keeps none). False, said, when it cannot be opened.
bool OpenTemplate(MergeRun& run, const std::string& templateName,
                  FileHandle* file, FileIdentity* id) {
  if (!run.mode.layout && KeptIsCurrent(run, templateName)) {
    *id = run.kept.state.id;
    return true;
  }
  FileState state;
  *file = OpenForReading(templateName, id, &state);
  if (!file->valid()) {
    run.SayFailure("Could not open ", templateName, ErrorText(errno));
    return false;
  }
  if (run.mode.layout || !state.known || !state.settled ||
      state.size > kSmallBlockSize) {
    return true;
  }
  Source whole(std::move(*file));
  std::string bytes;
  for (std::string_view ahead = Ahead(whole); !ahead.empty();
       ahead = Ahead(whole)) {
    bytes.append(ahead);
    Skip(whole, ahead.size());
  }
  if (whole.readError() || bytes.size() != state.size) {
    // Read as any template, so that what went wrong is said where it is met.
    run.kept = KeptTemplate();
    *file = OpenPage(run, templateName, id);
    return file->valid();
  }
  run.kept = {templateName, state, std::move(bytes)};
  return true;
}

}  // namespace

MergeOutcome MergeFile(MergeRun& run, const std::string& templateName,
                       const std::string& inputName,
                       const FileIdentity* alsoReading,
                       const OutputPlan* plan) {
  // The template is read afresh for every page, unless the one kept from
  // the page before is its current content.
  FileIdentity templId;
  FileHandle templFile;
  if (!OpenTemplate(run, templateName, &templFile, &templId)) {
    return MergeOutcome::kNotOpened;
  }
  std::optional<Source> templ;
  std::stringbuf keptBytes;
  if (templFile.valid()) {
    // The layout mode only streams the template, and reads the page and
    // both files again: small blocks keep its memory as low as the others'.
    templ.emplace(std::move(templFile), Decoder(TEXT_MODE_FILES, false),
                  run.mode.layout ? kSmallBlockSize : kBlockSize);
  } else {
    keptBytes.str(run.kept.bytes);
    templ.emplace(&keptBytes);
  }
  return MergeWithTemplate(run, templateName, *templ, templId, inputName,
                           alsoReading, plan);
}

MergeOutcome CopyFile(MergeRun& run, const std::string& inputName,
                      const OutputPlan& plan) {
  FileIdentity id;
  FileHandle file = OpenInput(run, inputName, &id);
  if (!file.valid()) return MergeOutcome::kNotOpened;
  // Byte for byte, on every system.
  Source in(std::move(file), Decoder(false, false));
  Sink out(false);
  const FileIdentity* const reading[3] = {&id, nullptr, nullptr};
  bool othersWritten = true;
  bool opened =
      OpenOutput(run, plan, inputName, reading, out, &othersWritten, true);
  if (opened) Transfer(in, 0, kFileEnd, out);
  bool whole = ReadWhole(run, in, inputName);
  bool done = FinishOutput(run, out, plan.name, opened, whole, opened && whole,
                           othersWritten);
  run.tally.untouched += done && out.untouched();
  if (done && !run.quiet && !run.mode.checkOnly) {
    WriteLine("Copied " + ShownName(inputName) + " to " + ShownName(plan.name));
  }
  return done ? MergeOutcome::kWritten : MergeOutcome::kNotWritten;
}

std::string OutFolder(const MergeRun& run) {
  std::string dir = run.outDir;
  while (dir.size() > 1 && IsSeparator(dir.back())) dir.pop_back();
  return dir;
}

std::string OutputKey(const MergeRun& run, const std::string& outputName) {
  std::string key = outputName.substr(OutFolder(run).size());
  return run.ignoreCase ? CaseKey(key) : key;
}

OutputPlan PlanOutput(const MergeRun& run, const std::string& inputName) {
  std::vector<std::string_view> parts;
  if (run.outDir.empty()) {
    OutputPlan plan;
    plan.name = OutputName(inputName);
    std::string_view below(plan.name);
    below.remove_prefix(std::char_traits<char>::length(OUTPUT_PREFIX));
    plan.inside = NameParts(below, &parts);
    plan.depth = parts.empty() ? 0 : static_cast<int>(parts.size()) - 1;
    return plan;
  }
  if (IsAbsolute(inputName) || !NameParts(inputName, &parts)) {
    OutputPlan plan;
    plan.name = OutFolder(run) + kSeparator + inputName;
    plan.inside = false;
    return plan;
  }
  return PlanOf(run, parts);
}

bool ApplyTemp(MergeRun& run, const std::string& templateName,
               const std::string& inputName, const FileIdentity* alsoReading) {
  return MergeFile(run, templateName, inputName, alsoReading) !=
         MergeOutcome::kNotOpened;
}
