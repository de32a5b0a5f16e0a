#include "spool/spool_files.h"

#include "genplot/plot_queue_access.h"
#include "platform/cstring.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace genplot::spool
{
namespace
{

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MakeDirectory(const std::string& directory)
{
    if (mkdir(directory.c_str(), 0777) == 0)
        return SyncDirectory(ParentDirectory(directory));
    struct stat info;
    return errno == EEXIST && stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const char* bytes, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies `from` to the new file `to`, flushed; the copy is removed again on failure.
bool CopyDurably(const std::string& from, const std::string& to)
{
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0)
    {
        const int saved = errno;
        close(in);
        errno = saved;
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;)
    {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            ok = got == 0;
            break;
        }
        if (!WriteAll(out, buffer, static_cast<std::size_t>(got)))
        {
            ok = false;
            break;
        }
    }
    const int saved = errno;
    ok = ok && fsync(out) == 0;
    ok = close(out) == 0 && ok;
    close(in);
    if (!ok)
    {
        unlink(to.c_str());
        errno = saved != 0 ? saved : EIO;
    }
    return ok;
}

} // namespace

std::string NativeQueuePath(const std::string& host)
{
    // The library's own mapping, so the spooler finds exactly the files send wrote.
    CString native;
    if (GetNativePath(CString(host.c_str()), native) == 0)
        return std::string();
    return std::string(native.GetString(), static_cast<std::size_t>(native.GetLength()));
}

std::string QueueDirectory()
{
    std::string directory = NativeQueuePath(GetPlotQueueDirectory());
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    return directory;
}

std::string JournalPath(const std::string& queueFile)
{
    return queueFile + ".journal";
}

std::string RejectedDirectory(const std::string& queueFile)
{
    const std::string parent = ParentDirectory(queueFile);
    return parent == "/" ? "/rejected" : parent + "/rejected";
}

std::string ParentDirectory(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncDirectory(const std::string& directory)
{
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

bool MoveIntoDirectory(const std::string& from, const std::string& toDirectory, std::string& error)
{
    if (!MakeDirectory(toDirectory))
    {
        error = "cannot make " + toDirectory + ": " + std::strerror(errno);
        return false;
    }
    const std::string name = BaseName(from);
    std::string target = toDirectory + "/" + name;
    // A plot name can come back to the queue once its file was removed; an older rejected
    // file of that name is kept.
    for (int suffix = 1; access(target.c_str(), F_OK) == 0; ++suffix)
        target = toDirectory + "/" + name + "." + std::to_string(suffix);
    if (rename(from.c_str(), target.c_str()) != 0)
    {
        if (errno != EXDEV || !CopyDurably(from, target) || unlink(from.c_str()) != 0)
        {
            error = "cannot move " + from + " to " + toDirectory + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!SyncDirectory(toDirectory) || !SyncDirectory(ParentDirectory(from)))
    {
        error = "cannot flush " + toDirectory + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

} // namespace genplot::spool
