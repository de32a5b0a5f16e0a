#pragma once

// What the program's file tests share: a folder of the test's own under $GENPLOT_TEST_TMP
// (else /tmp), removed with everything in it when the test ends, and reading a whole file.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace genplot::test
{

/// The bytes of the file at `path`; empty when it cannot be read.
inline std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A fixture whose `dir_` is a new, empty folder for each test.
class ScratchFolderTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* base = std::getenv("GENPLOT_TEST_TMP");
        std::string pattern = std::string(base ? base : "/tmp") + "/genplot-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string dir_;
};

} // namespace genplot::test
