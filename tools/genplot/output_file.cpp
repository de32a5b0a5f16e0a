#include "tools/genplot/output_file.h"

#include "tools/genplot/command_support.h"
#include "tools/genplot/termination.h"

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

namespace fs = std::filesystem;

std::string Folder(const std::string& target)
{
    const fs::path parent = fs::path(target).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// True when `target` names the very file of one of `inputs`, reached by any path.
const std::string* SameFileAs(const std::string& target, const std::vector<std::string>& inputs)
{
    for (const std::string& input : inputs)
    {
        std::error_code error;
        if (input != "-" && fs::equivalent(target, input, error) && !error)
            return &input;
    }
    return nullptr;
}

// True when `target` leads to this process's standard output (/dev/stdout, /dev/fd/1, or the
// file the shell redirected it to). Writing there in place is the only sound way: a rename
// would replace the link or the name, not what the output goes to.
bool IsOurStandardOutput(const std::string& target)
{
#if defined(_WIN32)
    (void)target;
    return false;
#else
    struct stat ours;
    struct stat named;
    return fstat(STDOUT_FILENO, &ours) == 0 && stat(target.c_str(), &named) == 0 &&
           ours.st_dev == named.st_dev && ours.st_ino == named.st_ino;
#endif
}

// The error a failed stream call left, or EIO when it left none.
int LastError()
{
    return errno != 0 ? errno : EIO;
}

} // namespace

AtomicOutputFile::AtomicOutputFile(std::string target, const std::vector<std::string>& inputs,
                                   OutputAccess access)
    : target_(std::move(target)), access_(access)
{
    if (target_.empty())
        throw std::runtime_error("the output needs a file name");
    if (target_ == "-")
    {
        standardOutput_ = true;
        OpenInPlace();
        return;
    }
    std::error_code statusError;
    const fs::file_status status = fs::status(target_, statusError);
    if (!fs::exists(status))
    {
        OpenTemporary();
        return;
    }
    if (const std::string* input = SameFileAs(target_, inputs))
    {
        throw std::runtime_error(target_ + ": is the input file" +
                                 (*input == target_ ? "" : " " + *input) +
                                 "; choose another output");
    }
    if (IsOurStandardOutput(target_))
    {
        standardOutput_ = true;
        OpenInPlace();
        return;
    }
    switch (status.type())
    {
    case fs::file_type::regular:
        OpenTemporary();
        return;
    case fs::file_type::fifo:
    case fs::file_type::character:
        OpenInPlace();
        return;
    case fs::file_type::directory:
        throw std::runtime_error(target_ + ": is a folder");
    default:
        throw std::runtime_error(target_ +
                                 ": not a regular file, a named pipe or a character device");
    }
}

void AtomicOutputFile::OpenTemporary()
{
    const std::string folder = Folder(target_);
    const std::string name = fs::path(target_).filename().string();
    if (name.empty() || name == "." || name == "..")
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
    {
        temporary_.clear();
        throw std::runtime_error("cannot create a file in " + folder + ": " + ErrorText(errno));
    }
    SetTemporaryOutput(temporary_, target_);
#else
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a file in " + folder + ": " + ErrorText(errno));
    temporary_ = buffer.data();
    SetTemporaryOutput(temporary_, target_);
    // mkstemp makes the file private; the finished file gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr)
    {
        const int error = errno;
        close(fd);
        SetTemporaryOutput("", "");
        std::remove(temporary_.c_str());
        temporary_.clear();
        throw std::runtime_error("cannot open " + target_ + ": " + ErrorText(error));
    }
#endif
}

void AtomicOutputFile::OpenInPlace()
{
    if (standardOutput_)
    {
        destination_ = stdout;
    }
    else
    {
#if defined(_WIN32)
        destination_ = std::fopen(target_.c_str(), "wb");
        if (destination_ == nullptr)
            throw std::runtime_error("cannot open " + target_ + ": " + ErrorText(errno));
#else
        // Without O_NONBLOCK, opening a named pipe waits for a reader, possibly forever. No
        // O_CREAT and no O_TRUNC: the file exists and is not a regular one.
        const int fd = open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENXIO)
            throw std::runtime_error(target_ + ": no process is reading from this named pipe");
        if (fd < 0)
            throw std::runtime_error("cannot open " + target_ + ": " + ErrorText(errno));
        struct stat opened;
        const int flags = fcntl(fd, F_GETFL);
        if (fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode) ||
            flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        {
            close(fd);
            throw std::runtime_error(target_ + ": changed while it was being opened");
        }
        destination_ = fdopen(fd, "wb");
        if (destination_ == nullptr)
        {
            const int error = errno;
            close(fd);
            throw std::runtime_error("cannot open " + target_ + ": " + ErrorText(error));
        }
#endif
    }
    stream_ = destination_;
    SetTemporaryOutput("", standardOutput_ ? std::string("standard output") : target_);
    if (access_ == OutputAccess::Seekable)
    {
        // Pipes and terminals cannot seek; the writer gets an anonymous file instead, which
        // disappears by itself however the program ends.
        staging_ = std::tmpfile();
        if (staging_ == nullptr)
        {
            const int error = errno;
            Discard();
            throw std::runtime_error("cannot create a temporary file for " + target_ + ": " +
                                     ErrorText(error));
        }
        stream_ = staging_;
    }
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
    if (staging_ != nullptr)
        std::fclose(staging_);
    if (destination_ != nullptr && !standardOutput_)
        std::fclose(destination_);
    else if (stream_ != nullptr && destination_ == nullptr)
        std::fclose(stream_);
    staging_ = nullptr;
    destination_ = nullptr;
    stream_ = nullptr;
    SetTemporaryOutput("", "");
    if (!temporary_.empty())
        std::remove(temporary_.c_str());
}

void AtomicOutputFile::Commit()
{
    if (done_)
        throw std::runtime_error("writing " + target_ + " failed");
    if (destination_ != nullptr)
        CommitInPlace();
    else
        CommitTemporary();
    SetTemporaryOutput("", "");
    done_ = true;
}

void AtomicOutputFile::CommitTemporary()
{
    int error = 0;
    errno = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        error = LastError();
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
    fs::rename(temporary_, target_, renameError);
    if (renameError)
    {
        Discard();
        throw std::runtime_error("cannot write " + target_ + ": " + renameError.message());
    }
}

void AtomicOutputFile::CommitInPlace()
{
    const std::string name = standardOutput_ ? std::string("standard output") : target_;
    int error = 0;
    errno = 0;
    if (staging_ != nullptr)
    {
        if (std::fflush(staging_) != 0 || std::fseek(staging_, 0, SEEK_SET) != 0)
            error = LastError();
        char block[65536];
        while (error == 0)
        {
            const std::size_t got = std::fread(block, 1, sizeof block, staging_);
            if (got > 0 && std::fwrite(block, 1, got, destination_) != got)
                error = LastError();
            else if (got < sizeof block)
            {
                if (std::ferror(staging_))
                    error = LastError();
                break;
            }
        }
    }
    if (error == 0 && (std::fflush(destination_) != 0 || std::ferror(destination_)))
        error = LastError();
    if (error != 0)
    {
        Discard();
        throw std::runtime_error("writing " + name + " failed: " + ErrorText(error));
    }
    if (staging_ != nullptr)
        std::fclose(staging_);
    if (!standardOutput_ && std::fclose(destination_) != 0)
    {
        error = errno != 0 ? errno : EIO;
        staging_ = destination_ = stream_ = nullptr;
        throw std::runtime_error("writing " + name + " failed: " + ErrorText(error));
    }
    staging_ = destination_ = stream_ = nullptr;
}

} // namespace genplot::tool
