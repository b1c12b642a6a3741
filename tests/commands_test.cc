#include "console/commands.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/scratch.h"

namespace {

class CommandsTest : public ScratchTest {};

TEST_F(CommandsTest, MenuChoices) {
  EXPECT_EQ(RunMenuWith("q"), kMenu);
  EXPECT_EQ(RunMenuWith("Q\nh\n"), kMenu);
  EXPECT_EQ(RunMenuWith("x 1 ? q"), std::string(kMenu) + kMenu + kMenu + kMenu);
  EXPECT_EQ(RunMenuWith("h\nqz"),
            std::string(kMenu) + "Help is not avaliable yet\n" + kMenu);
  EXPECT_EQ(RunMenuWith("Hq"),
            std::string(kMenu) + "Help is not avaliable yet\n" + kMenu);
}

TEST_F(CommandsTest, ConsoleEndEndsTheProgram) {
  EXPECT_EQ(RunMenuWith(""), kMenu);
  EXPECT_EQ(RunMenuWith(" \n x"), std::string(kMenu) + kMenu);
  EXPECT_EQ(RunMenuWith("a"), std::string(kMenu) + kTemplatePrompt + kMenu);
  EXPECT_EQ(RunMenuWith("a t.html"),
            std::string(kMenu) + kTemplatePrompt + kInputPrompt + kMenu);
  EXPECT_EQ(
      RunMenuWith("l\n"),
      std::string(kMenu) + "Please enter name of template file\n" + kMenu);
}

TEST_F(CommandsTest, ApplyfileAsksAgainUntilAMergeRan) {
  WriteFile("t.html", "<head> <body> #### T");
  WriteFile("in.html", "<head> h </head> <body> b </body>");
  std::string out =
      RunMenuWith("a nope.html in.html t.html nope.html t.html in.html q");
  EXPECT_EQ(out, std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                     "Could not open nope.html\n" + kTemplatePrompt +
                     kInputPrompt + "Could not open nope.html\n" +
                     kTemplatePrompt + kInputPrompt +
                     "Successfully opened temb/in.html (Output file) and "
                     "in.html (Input file)\n" +
                     kMenu);
  EXPECT_EQ(ReadFile("temb/in.html"), "<head> h <body>  b  T");
}

TEST_F(CommandsTest, BangAndWordsAfterTheChoice) {
  EXPECT_EQ(RunMenuWith("a\n!\nq"),
            std::string(kMenu) + kTemplatePrompt + kMenu);
  EXPECT_EQ(RunMenuWith("a !anything q"),
            std::string(kMenu) + kTemplatePrompt + kMenu);
  // "Apply" is the choice A followed by the template name "pply".
  EXPECT_EQ(RunMenuWith("Apply x q"),
            std::string(kMenu) + kTemplatePrompt + kInputPrompt +
                "Could not open pply\n" + kTemplatePrompt + kInputPrompt +
                kMenu);
}

}  // namespace
