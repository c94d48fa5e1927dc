#include "common/Console.h"
#include "common/UserPrompts.h"

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

using namespace vornax;

TEST(ConsoleTest, ColouredLinesAreResetAndPlainWithoutTerminal)
{
    const std::string warning = console::formatForStdout(console::Warning, "bad", true);
    EXPECT_EQ(warning.rfind("\033[", 0), 0u);
    EXPECT_NE(warning.find("bad\033[0m\n"), std::string::npos);
    for (int attribute : {console::Information, console::ShaderVersion, console::Capability, console::Warning}) {
        EXPECT_FALSE(console::ansiStart(attribute).empty()) << attribute;
        EXPECT_EQ(console::formatForStdout(attribute, "x", false), "x\n") << attribute;
    }
    // The four attributes get four different colours.
    EXPECT_NE(console::ansiStart(console::Information), console::ansiStart(console::ShaderVersion));
    EXPECT_NE(console::ansiStart(console::Capability), console::ansiStart(console::Warning));
    EXPECT_EQ(console::formatForStdout(console::Normal, "plain", true), "plain\n");
}

TEST(ConsoleTest, LineBuilderEmitsOneWholeLine)
{
    console::Capture capture;
    console::Line() << "Total Amount of atoms: " << 12 << "Arraysize: " << 12u;
    console::Line(console::Warning) << "warn " << 1.5;
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, console::Normal);
    EXPECT_EQ(lines[0].second, "Total Amount of atoms: 12Arraysize: 12");
    EXPECT_EQ(lines[1].first, console::Warning);
    EXPECT_EQ(lines[1].second, "warn 1.5");
}

TEST(ConsoleTest, LinesFromSeveralThreadsStayWhole)
{
    console::Capture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) console::Line() << "thread " << t << " line " << i;
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(capture.count("thread "), 800);
    for (const auto& text : capture.texts()) EXPECT_EQ(text.rfind("thread ", 0), 0u);
}

TEST(UserPromptsTest, ScriptedAnswersAndRecording)
{
    ScriptedPrompts prompts;
    ScopedUserPrompts scoped(&prompts);
    prompts.queueAnswer(MessageAnswer::No);
    prompts.queueText(std::string("1ABC"));
    EXPECT_EQ(userPrompts().messageBox("Data Required", "Continue?", MessageIcon::Question, MessageButtons::YesNo),
              MessageAnswer::No);
    // An empty queue answers the affirmative button.
    EXPECT_EQ(userPrompts().messageBox("c", "t", MessageIcon::Warning, MessageButtons::Ok), MessageAnswer::Ok);
    EXPECT_EQ(userPrompts().messageBox("c", "t", MessageIcon::Warning, MessageButtons::YesNoCancel),
              MessageAnswer::Yes);
    EXPECT_EQ(userPrompts().askText({"File Data Warning", "h", "p", "Enter", true}), "1ABC");
    EXPECT_EQ(userPrompts().askText({"File Data Warning", "h", "p", "Enter", true}), std::nullopt);
    ASSERT_EQ(prompts.messages().size(), 3u);
    EXPECT_EQ(prompts.messages()[0].caption, "Data Required");
    EXPECT_EQ(prompts.textPrompts().size(), 2u);
    EXPECT_EQ(prompts.countMessages("Continue"), 1);
}

TEST(UserPromptsTest, ConsoleImplementationNeverBlocksWithoutTerminal)
{
    if (isatty(0)) GTEST_SKIP() << "standard input is a terminal";
    console::Capture capture;
    ConsolePrompts prompts;
    EXPECT_EQ(prompts.messageBox("PDB File Error", "text", MessageIcon::Warning, MessageButtons::YesNo),
              MessageAnswer::Yes);
    EXPECT_EQ(prompts.askText({"File Data Warning", "Unable to determine PDB Code from file...",
                               "Please Enter PDB code for current protein", "Enter", true}),
              std::nullopt);
    EXPECT_TRUE(capture.contains("[PDB File Error] text"));
    EXPECT_TRUE(capture.contains("Unable to determine PDB Code from file..."));
}
