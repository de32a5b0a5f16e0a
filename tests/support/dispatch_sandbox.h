#pragma once

#include "support/file_contents.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Sets (or, with a null value, unsets) one environment variable for a scope and puts the
/// previous state back afterwards.
class ScopedEnvVar
{
  public:
    ScopedEnvVar(const char* name, const char* value);
    ~ScopedEnvVar();
    ScopedEnvVar(const ScopedEnvVar&) = delete;
    ScopedEnvVar& operator=(const ScopedEnvVar&) = delete;

    void Set(const char* value);

  private:
    std::string name_;
    std::string previous_;
    bool hadPrevious_;
};

/// A fresh private folder for one test, below $GENPLOT_TEST_TMP when set, else below /tmp;
/// removed with everything in it afterwards. The drive and queue variables point into it:
/// GENPLOT_DRIVE_C is `drive()` (created), GENPLOT_QUEUE_FLAG and GENPLOT_QUEUE_FILE are unset;
/// all three are restored afterwards.
class DispatchSandbox
{
  public:
    DispatchSandbox();
    ~DispatchSandbox();
    DispatchSandbox(const DispatchSandbox&) = delete;
    DispatchSandbox& operator=(const DispatchSandbox&) = delete;

    /// The sandbox folder.
    const std::string& root() const
    {
        return root_;
    }
    /// The folder that stands for drive C.
    std::string drive() const
    {
        return root_ + "/drive_c";
    }
    /// Where "c:\userroot\devq\plotter\" lands.
    std::string queueDirectory() const
    {
        return drive() + "/userroot/devq/plotter";
    }
    std::string Path(const std::string& name) const
    {
        return root_ + "/" + name;
    }
    void SetQueueFlag(const char* value)
    {
        queueFlag_.Set(value);
    }
    void SetQueueFile(const char* value)
    {
        queueFile_.Set(value);
    }

  private:
    std::string root_;
    ScopedEnvVar driveC_;
    ScopedEnvVar queueFlag_;
    ScopedEnvVar queueFile_;
};

/// Bytes of a complete generic plot file of `size` bytes (at least 160; see CompletePlotBytes).
std::vector<std::uint8_t> PlotFileBytes(std::size_t size);

/// Writes `bytes` to `path`, replacing it; fails the current test on error. (ReadFileBytes,
/// its counterpart, is in support/file_contents.h.)
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);
/// Names of the entries of `directory`, sorted, without "." and ".."; empty when missing.
std::vector<std::string> ListDirectory(const std::string& directory);
/// Number of file descriptors the process has open.
int CountOpenDescriptors();
