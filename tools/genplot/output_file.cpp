#include "tools/genplot/output_file.h"

#include "tools/genplot/command_support.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace genplot::tool
{
namespace
{

std::string Folder(const std::string& target)
{
    const std::filesystem::path parent = std::filesystem::path(target).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

} // namespace

AtomicOutputFile::AtomicOutputFile(std::string target) : target_(std::move(target))
{
    const std::string folder = Folder(target_);
    const std::string name = std::filesystem::path(target_).filename().string();
    if (name.empty())
        throw std::runtime_error(target_ + ": not a file name");
#if defined(_WIN32)
    // No mkstemp: try numbered names with exclusive creation.
    for (unsigned attempt = 0; attempt < 1000 && stream_ == nullptr; ++attempt)
    {
        temporary_ = folder + "/." + name + "." + std::to_string(_getpid()) + "-" +
                     std::to_string(attempt) + ".tmp";
        stream_ = std::fopen(temporary_.c_str(), "wbx");
        if (stream_ == nullptr && errno != EEXIST)
            break;
    }
    if (stream_ == nullptr)
        throw std::runtime_error("cannot create a file in " + folder + ": " + ErrorText(errno));
#else
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a file in " + folder + ": " + ErrorText(errno));
    temporary_ = buffer.data();
    // mkstemp makes the file private; the finished file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr)
    {
        const int error = errno;
        close(fd);
        std::remove(temporary_.c_str());
        throw std::runtime_error("cannot open " + temporary_ + ": " + ErrorText(error));
    }
#endif
}

AtomicOutputFile::~AtomicOutputFile()
{
    Discard();
}

void AtomicOutputFile::Discard() noexcept
{
    if (done_)
        return;
    done_ = true;
    if (stream_ != nullptr)
        std::fclose(stream_);
    stream_ = nullptr;
    std::remove(temporary_.c_str());
}

void AtomicOutputFile::Commit()
{
    if (done_)
        throw std::runtime_error("writing " + target_ + " failed");
    int error = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        error = errno != 0 ? errno : EIO;
#if !defined(_WIN32)
    // The data must be on disk before the name points at it, or a crash could leave a
    // complete-looking name over an empty file.
    if (error == 0 && fsync(fileno(stream_)) != 0)
        error = errno;
#endif
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (error == 0 && closed != 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0)
    {
        Discard();
        throw std::runtime_error("writing " + target_ + " failed: " + ErrorText(error));
    }
    std::error_code renameError;
    std::filesystem::rename(temporary_, target_, renameError);
    if (renameError)
    {
        Discard();
        throw std::runtime_error("cannot write " + target_ + ": " + renameError.message());
    }
    done_ = true;
}

} // namespace genplot::tool
