#pragma once

// The fixture of the program's file tests: `dir_` is a folder of the test's own (see
// TestFolder), removed with everything in it when the test ends.

#include "support/test_folder.h"

#include <string>

#include <gtest/gtest.h>

namespace genplot::test
{

class ScratchFolderTest : public ::testing::Test
{
  protected:
    TestFolder folder_{"genplot"};
    const std::string dir_ = folder_.path().string();
};

} // namespace genplot::test
