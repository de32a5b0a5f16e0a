#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

/// A fresh, empty folder for one test, below $GENPLOT_TEST_TMP when it is set (the system's
/// temporary folder otherwise), removed with everything in it when the object goes.
class TestFolder
{
  public:
    /// Creates `prefix-N` for the first N not taken: creating a folder fails when the name is
    /// taken, so tests running in parallel processes never share one.
    explicit TestFolder(const std::string& prefix)
    {
        const char* base = std::getenv("GENPLOT_TEST_TMP");
        const std::filesystem::path parent = base != nullptr && base[0] != '\0'
                                                 ? std::filesystem::path(base)
                                                 : std::filesystem::temp_directory_path();
        std::error_code error;
        std::filesystem::create_directories(parent, error);
        for (unsigned n = 0; n < 100000; ++n)
        {
            const std::filesystem::path candidate = parent / (prefix + "-" + std::to_string(n));
            if (std::filesystem::create_directory(candidate, error))
            {
                path_ = candidate;
                return;
            }
            if (error)
                break; // not a name taken: no other name will do better
        }
        ADD_FAILURE() << "no test folder could be made below " << parent.string();
    }
    ~TestFolder()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const
    {
        return path_;
    }
    /// `name` inside the folder, in the native notation.
    std::string Path(const std::string& name) const
    {
        return (path_ / name).string();
    }

  private:
    std::filesystem::path path_;
};
