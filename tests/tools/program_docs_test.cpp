// The man page and the bash completion, both made from the program's own help texts.

#include "support/dispatch_sandbox.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace
{

const std::string kSourceRoot = std::string(GENPLOT_EXAMPLES_DIR) + "/..";

// Runs `command` through the shell and returns its stdout.
std::string Output(const std::string& command)
{
    std::string text;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (pipe == nullptr)
        return text;
    std::array<char, 4096> buffer;
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) > 0)
        text.append(buffer.data(), got);
    return text;
}

bool Have(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The words bash would offer after `line` (the words typed so far, the last one partial).
std::string Complete(const std::string& line)
{
    const std::string script = kSourceRoot + "/tools/genplot/genplot_completion.bash";
    return Output("bash -c 'source \"" + script + "\"; COMP_WORDS=(\"" + GENPLOT_EXE + "\" " +
                  line + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _genplot; echo " +
                  "\"${COMPREPLY[*]}\"' 2>&1");
}

TEST(ProgramDocsTest, BashCompletesSubcommandsOptionsAndListedValues)
{
    if (!Have("bash"))
        GTEST_SKIP() << "no bash";
    EXPECT_EQ(Complete("con"), "convert\n");
    // The spooler is built only where the print system's library is.
    const std::string all = Complete("\"\"");
    EXPECT_TRUE(all == "convert check send queue dump verify render export help\n" ||
                all == "convert check send queue dump verify render export spool help\n")
        << all;
    EXPECT_EQ(Complete("help ve"), "verify\n");
    EXPECT_EQ(Complete("convert x.plt --pe"), "--pen-table\n");
    EXPECT_EQ(Complete("dump x.gpf -"), "-h --help -p --points\n");
    EXPECT_EQ(Complete("convert x.plt --progress a"), "auto always\n");
}

TEST(ProgramDocsTest, TheManPageHoldsEverySubcommandsHelp)
{
    if (!Have("help2man") || !Have("cmake"))
        GTEST_SKIP() << "help2man or cmake missing";
    DispatchSandbox box;
    const std::string page = box.Path("genplot.1");
    const std::string command = "cmake -DGENPLOT_EXE='" + std::string(GENPLOT_EXE) +
                                "' -DHELP2MAN=help2man -DOUTPUT='" + page +
                                "' -DSUBCOMMANDS=convert,check,send,queue,dump,verify,render "
                                "-P '" +
                                kSourceRoot + "/tools/genplot/man_page.cmake' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string text = Output("cat '" + page + "'");
    EXPECT_NE(text.find(".TH GENPLOT \"1\""), std::string::npos) << text.substr(0, 200);
    for (const char* name : {"convert", "check", "send", "queue", "dump", "verify", "render"})
        EXPECT_NE(text.find(std::string(".SS ") + name + "\n"), std::string::npos) << name;
    EXPECT_NE(text.find("\\-\\-pen\\-table"), std::string::npos);
    // It reads as a manual page.
    if (Have("man"))
    {
        const std::string shown = Output("MANWIDTH=200 man -l '" + page + "' 2>/dev/null");
        EXPECT_NE(shown.find("genplot convert [OPTIONS] INPUT"), std::string::npos) << shown;
    }
}

} // namespace
