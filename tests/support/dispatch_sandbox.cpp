#include "support/dispatch_sandbox.h"

#include "support/complete_plot_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace
{

std::string MakeTempRoot()
{
    const char* base = std::getenv("GENPLOT_TEST_TMP");
    std::string pattern = base != nullptr && base[0] != '\0' ? base : "/tmp";
    mkdir(pattern.c_str(), 0777); // ctest creates it; a direct run of the binary may not have
    pattern += "/dispatch-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
    {
        ADD_FAILURE() << "mkdtemp failed below " << pattern;
        return "/nonexistent-sandbox";
    }
    return buffer.data();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return std::remove(path);
}

} // namespace

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name)
{
    const char* previous = std::getenv(name);
    hadPrevious_ = previous != nullptr;
    if (hadPrevious_)
        previous_ = previous;
    Set(value);
}

ScopedEnvVar::~ScopedEnvVar()
{
    if (hadPrevious_)
        setenv(name_.c_str(), previous_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

void ScopedEnvVar::Set(const char* value)
{
    if (value != nullptr)
        setenv(name_.c_str(), value, 1);
    else
        unsetenv(name_.c_str());
}

DispatchSandbox::DispatchSandbox()
    : root_(MakeTempRoot()), driveC_("GENPLOT_DRIVE_C", (root_ + "/drive_c").c_str()),
      queueFlag_("GENPLOT_QUEUE_FLAG", nullptr), queueFile_("GENPLOT_QUEUE_FILE", nullptr)
{
    mkdir(drive().c_str(), 0777);
}

DispatchSandbox::~DispatchSandbox()
{
    if (root_.rfind("/nonexistent", 0) != 0)
        nftw(root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<std::uint8_t> PlotFileBytes(std::size_t size)
{
    return CompletePlotBytes(size);
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    if (!bytes.empty())
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    EXPECT_EQ(std::fclose(file), 0);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> ListDirectory(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

int CountOpenDescriptors()
{
    // /proc/self/fd lists every open descriptor; the one opendir uses is counted out.
    return static_cast<int>(ListDirectory("/proc/self/fd").size()) - 1;
}
