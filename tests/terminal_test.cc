// The program at a real terminal: a pseudo-terminal that the test types
// into and reads the screen of. Lines are edited, names completed with Tab
// and earlier lines recalled with Up; whatever ends the program leaves the
// terminal's settings as they were.
#include "tests/terminal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/reference_merge.h"
#include "tests/scratch.h"

namespace {

const std::string kTemplate = "<head>\n</head>\n<body x=1>\n####\n";
const std::string kPage =
    "<head>\n<title>P</title>\n</head>\n<body>\nHi\n</body>\n";

class AtATerminal : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!TEMBRIX_LINE_EDITOR) GTEST_SKIP() << "built without libedit";
    std::filesystem::create_directories("pages");
    std::filesystem::create_directories("temb/pages");
    WriteFile("template.html", kTemplate);
    WriteFile("\xe6\x97\xa5\xe6\x9c\xac.html", kPage);  // 日本.html
    WriteFile("pages/abc.html", kPage);
  }
};

TEST_F(AtATerminal, TabCompletesUpRecallsCtrlDEnds) {
  Terminal t({TEMBRIX_EXE}, "xterm");
  ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
  t.Type("a\r");
  ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)") && t.WaitForEditor());
  // What the screen shows while a line is edited is the editor's business:
  // what the program does with the line tells.
  t.Type("templ\t\r");
  ASSERT_TRUE(t.WaitFor("file to process") && t.WaitForEditor());
  t.Type("\xe6\x97\xa5\t\r");  // 日 and Tab
  ASSERT_TRUE(t.WaitFor("Successfully opened temb/\xe6\x97\xa5\xe6\x9c\xac"));
  ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
  // Up three times passes "a" and the page to the template's line.
  t.Type("a\r");
  ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)") && t.WaitForEditor());
  t.Type("\x1b[A\x1b[A\x1b[A\r");
  ASSERT_TRUE(t.WaitFor("file to process") && t.WaitForEditor());
  t.Type("pages/a\t\r");
  ASSERT_TRUE(t.WaitFor("Successfully opened temb/pages/abc.html"));
  ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
  t.Type("\x04");  // Ctrl-D on an empty line: the end of the input
  int status = t.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(t.SettingsAsBefore());
  EXPECT_EQ(ReadFile("temb/\xe6\x97\xa5\xe6\x9c\xac.html"),
            ReferenceMerge(kTemplate, kPage));
  EXPECT_EQ(ReadFile("temb/pages/abc.html"), ReferenceMerge(kTemplate, kPage));
}

TEST_F(AtATerminal, SignalsAtAPromptLeaveTheTerminalAsItWas) {
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    Terminal t({TEMBRIX_EXE}, "xterm");
    ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
    t.Type("a\r");
    ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)") && t.WaitForEditor());
    t.Type("tem");
    ASSERT_TRUE(t.WaitFor("tem"));
    kill(t.pid(), sig);
    int status = t.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_TRUE(t.SettingsAsBefore()) << sig;
  }
}

TEST_F(AtATerminal, ContinuedOrResizedTheEditorHasTheTerminalAgain) {
  Terminal t({TEMBRIX_EXE}, "xterm");
  ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
  t.Type("a\r");
  ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)") && t.WaitForEditor());
  t.Type("te");
  ASSERT_TRUE(t.WaitFor("te"));
  // Told to stop (which a session of its own ignores, putting the terminal
  // back), continued, then resized: the editor has the terminal again at
  // once, and Tab still completes.
  kill(t.pid(), SIGTSTP);
  usleep(200 * 1000);
  kill(t.pid(), SIGCONT);
  ASSERT_TRUE(t.WaitForEditor());
  kill(t.pid(), SIGWINCH);
  t.Type("mpl\t\r");
  ASSERT_TRUE(t.WaitFor("file to process") && t.WaitForEditor());
  t.Type("pages/abc.html\r");
  ASSERT_TRUE(t.WaitFor("Successfully opened temb/pages/abc.html"));
  ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
  t.Type("q\r");
  int status = t.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(t.SettingsAsBefore());
}

TEST_F(AtATerminal, StopFromOutsideDropsWhatWasTypedAhead) {
  for (int sig : {SIGTERM, SIGHUP}) {
    Terminal t({TEMBRIX_EXE}, "xterm");
    ASSERT_TRUE(t.WaitFor("Quit (Q)") && t.WaitForEditor());
    t.Type("a\r");
    ASSERT_TRUE(t.WaitFor("(or ! to quit to menu)") && t.WaitForEditor());
    // Typed while the program does not read: a name half typed, then a
    // line a shell would run.
    kill(t.pid(), SIGSTOP);
    t.Type("tem");
    t.Type("plate.html\rtouch typed-ahead\r");
    kill(t.pid(), sig);
    kill(t.pid(), SIGCONT);
    int status = t.Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_TRUE(t.SettingsAsBefore()) << sig;
    EXPECT_EQ(t.TypedAhead(), 0) << sig;
  }
}

TEST_F(AtATerminal, TerminalOfUnknownTypeIsReadAsItIs) {
  for (const char* term : {"dumb", "no-such-terminal"}) {
    SCOPED_TRACE(term);
    // No editor: the Tab is a blank that ends the word.
    Terminal t({TEMBRIX_EXE}, term);
    ASSERT_TRUE(t.WaitFor("Quit (Q)"));
    t.Type("a\rtempl\tin.html\r");
    ASSERT_TRUE(t.WaitFor("Could not open templ\r\n"));
    t.Type("!\rq\r");
    int status = t.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

}  // namespace
