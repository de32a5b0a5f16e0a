#include "genplot/plot_dispatch.h"

#include "genplot/plot_dispatch_internal.h"
#include "platform/drive_info.h"
#include "platform/exception.h"
#include "platform/module_state.h"
#include "platform/native_path_internal.h"
#include "platform/plot_queue.h"
#include "platform/plot_queue_internal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

namespace genplot::detail
{
namespace
{

constexpr char kUniqueNameTag[] = "ggt";
constexpr std::size_t kNameBufferSize = 256;
// completionCode for a session the dispatcher gave up on because the queue did not answer.
constexpr LONG kGaveUp = 3;
// createMode of the queue client: make the queue file, and its folders, when they are missing.
constexpr int kCreateQueueIfMissing = 1;
// mediaKind of a queue record: the copy it names is a generic plot file.
constexpr unsigned char kGenericPlotMedia = 4;
// driveName of a queue record: the drive that holds the queue directory, as text.
constexpr char kQueueDriveName = 'c';

// A path is handed on as a C string: a NUL inside the text would silently name another file.
bool IsPathText(const CString& text)
{
    return std::strlen(text.GetString()) == static_cast<std::size_t>(text.GetLength());
}

void FillSubmission(tag_ti_namelist_both* record, const char* uniqueName, const char* baseName)
{
    std::memset(record, 0, sizeof *record);
    const std::size_t nameLength = std::strlen(uniqueName);
    std::memcpy(record->fileName, uniqueName,
                nameLength < kQueueFileNameMax ? nameLength : kQueueFileNameMax);
    // Only the first 20 characters fit; byte 42 stays 0 so the field is always terminated.
    const std::size_t baseLength = std::strlen(baseName);
    std::memcpy(record->baseName, baseName,
                baseLength < kQueueBaseNameMax ? baseLength : kQueueBaseNameMax);
    record->driveName[0] = kQueueDriveName;
    record->mediaKind = kGenericPlotMedia;
    record->copies = 1;
}

struct DriveInfo
{
    unsigned char queueFlag;
    char queueText[kDriveInfoTextSize];
};

DriveInfo ReadDriveInfo()
{
    // The drive letter and the volume text are asked for but not used.
    char driveLetter = kNoDriveLetter;
    char volumeText[kDriveInfoTextSize] = {};
    DriveInfo drive = {0, {}};
    cc_get_driveinfo(&driveLetter, &drive.queueFlag, volumeText, drive.queueText);
    drive.queueText[kDriveInfoTextSize - 1] = '\0';
    return drive;
}

struct CloseStream
{
    void operator()(std::FILE* stream) const noexcept
    {
        std::fclose(stream);
    }
};

// A stream closed when it goes out of scope. One whose close result matters (a written copy) is
// closed by hand through release().
using StreamGuard = std::unique_ptr<std::FILE, CloseStream>;

// An output file that was not committed when it goes out of scope is discarded: the destination
// is left as it was and no partial file stays behind.
class OutputGuard
{
  public:
    OutputGuard() = default;
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;
    ~OutputGuard()
    {
        Discard();
    }
    void Discard() noexcept
    {
        if (file.stream != nullptr)
            DiscardOutputFile(&file);
    }

    OutputFile file;
};

// Everything one delivery opens or makes, each released on every way out by its own guard.
// Members are destroyed in reverse order: the input is closed first, the queue client last.
struct DeliveryFiles
{
    std::unique_ptr<CPlotterQueue> queue;
    StreamGuard spool;
    OutputGuard output;
    StreamGuard input;
};

// Where a delivery went or stopped, kept in plain storage (filling the caller's strings
// allocates, which must not happen before the queue client is made).
struct Account
{
    int systemError = 0;
    const char* target = "";
    char spooledName[kNameBufferSize] = {};
};

// The outcome of a step that failed: the message and the errno of the call behind it.
unsigned Failed(Account* outcome, unsigned id, int error)
{
    outcome->systemError = error;
    return id;
}

int ErrnoOr(int fallback)
{
    return errno != 0 ? errno : fallback;
}

// Removes the copy `name` from the queue directory: a copy cut short is no plot, and no
// record will ever name it.
void RemoveSpooledCopy(const char* name)
{
    char hostPath[kNativePathSize];
    char native[kNativePathSize];
    const int written = std::snprintf(hostPath, sizeof hostPath, "%s%s", kPlotQueueDirectory, name);
    if (written > 0 && static_cast<std::size_t>(written) < sizeof hostPath &&
        NativePath(hostPath, native, sizeof native))
        std::remove(native);
}

// The size of `input` now, -1 when it cannot be told.
long long CurrentSize(std::FILE* input)
{
    if (std::fseek(input, 0, SEEK_END) != 0)
        return -1;
    return std::ftell(input);
}

// Opens the input and makes sure it is a complete plot file; the message number.
unsigned OpenCompleteInput(const CString& inputPath, DeliveryFiles& files, long long* size,
                           Account* outcome)
{
    if (!IsPathText(inputPath))
        return Failed(outcome, kDispatchCannotOpenInput, EINVAL);
    bool notRegular = false;
    errno = 0;
    files.input.reset(OpenInputFile(inputPath.GetString(), &notRegular, size));
    if (files.input == nullptr)
        return Failed(outcome, notRegular ? kDispatchNotAPlotFile : kDispatchCannotOpenInput,
                      notRegular ? 0 : ErrnoOr(ENOENT));
    if (CheckPlotFileHeader(files.input.get()) == 0)
        return kDispatchNotAPlotFile;
    // A cancelled or cut-short file starts like a plot file but is not one to deliver.
    errno = 0;
    const int complete = CheckPlotFileComplete(files.input.get(), *size);
    if (complete < 0)
        return Failed(outcome, kDispatchCopyFailed, ErrnoOr(EIO));
    return complete == 1 ? kDispatchNoError : kDispatchNotAPlotFile;
}

// The queue's side of a delivery: the queue file chosen, the client made and checked, the
// unique file created. The message number.
unsigned OpenQueue(const CString& target, int mode, const DriveInfo& drive, DeliveryFiles& files,
                   char (&uniqueName)[kNameBufferSize], Account* outcome)
{
    const CString none;
    const bool asGiven = mode == kDeliverToQueueFile && !target.IsEmpty();
    const char* queueFile =
        asGiven ? target.GetString()
                : ChooseQueueFile(drive.queueFlag, mode == kDeliverToQueueFile ? none : target,
                                  drive.queueText);
    outcome->target = queueFile;
    // A path the client could only take cut short would name another queue: refuse it before
    // anything is made or copied.
    if (std::strlen(queueFile) > kQueueFilePathMax ||
        (queueFile == target.GetString() && !IsPathText(target)))
        return Failed(outcome, kDispatchQueueNotResponding, ENAMETOOLONG);
    try
    {
        files.queue.reset(new CPlotterQueue(queueFile, kCreateQueueIfMissing));
    }
    catch (CMemoryException* error)
    {
        error->Delete();
        return Failed(outcome, kDispatchNoMemory, ENOMEM);
    }
    // Appending a record to the plot being delivered would damage it.
    PlotterQueueAccess::RefuseIfSameFile(*files.queue, files.input.get());
    errno = 0;
    files.spool.reset(
        CreateUniqueFileName(kPlotQueueDirectory, nullptr, kUniqueNameTag, uniqueName, "wb"));
    if (files.spool == nullptr)
        return Failed(outcome, kDispatchCannotOpenOutput, ErrnoOr(EIO));
    std::memcpy(outcome->spooledName, uniqueName, sizeof outcome->spooledName);
    return kDispatchNoError;
}

// Copies the input to the open output or spool file and closes it; a copy that is not whole
// leaves nothing behind. The message number.
unsigned Copy(DeliveryFiles& files, long long size, CProgressCtrl* progress, Account* outcome)
{
    std::FILE* output = files.spool != nullptr ? files.spool.get() : files.output.file.stream;
    errno = 0;
    int copyResult = CopyPlotFile(files.input.get(), output, progress);
    int error = copyResult != 0 ? ErrnoOr(EIO) : 0;
    // The file checked is the file copied: one that changed since is not delivered.
    if (copyResult == 0 && CurrentSize(files.input.get()) != size)
    {
        copyResult = kDispatchCopyFailed;
        error = EAGAIN;
    }
    if (files.spool != nullptr)
    {
        // The last block may still sit in the stream's buffer: a flush that fails on a full
        // disk shows only here, and a copy missing its end is not a delivered file.
        errno = 0;
        const bool closed = std::fclose(files.spool.release()) == 0;
        if (copyResult == 0 && !closed)
        {
            copyResult = kDispatchCopyFailed;
            error = ErrnoOr(EIO);
        }
        if (copyResult != 0)
        {
            RemoveSpooledCopy(outcome->spooledName);
            outcome->spooledName[0] = '\0';
        }
    }
    else if (copyResult == 0)
    {
        errno = 0;
        error = CommitOutputFile(&files.output.file);
        copyResult = error != 0 ? static_cast<int>(kDispatchCopyFailed) : 0;
    }
    else
    {
        files.output.Discard();
    }
    return copyResult != 0 ? Failed(outcome, kDispatchCopyFailed, error) : kDispatchNoError;
}

// The delivery proper, after the progress set-up; returns the message number. Every path
// closes what it opened and destroys the queue client it made (the guards of DeliveryFiles).
unsigned Deliver(const CString& inputPath, const CString& target, int mode, CProgressCtrl* progress,
                 const DriveInfo& drive, Account* outcome)
{
    DeliveryFiles files;
    long long size = 0;
    unsigned id = OpenCompleteInput(inputPath, files, &size, outcome);
    if (id != kDispatchNoError)
        return id;
    char baseName[kNameBufferSize];
    SplitBaseName(inputPath.GetString(), baseName, sizeof baseName);

    char uniqueName[kNameBufferSize] = {};
    if (mode == kDeliverToPath)
    {
        outcome->target = target.GetString();
        errno = 0;
        if (!IsPathText(target) ||
            !OpenOutputFile(target.GetString(), files.input.get(), &files.output.file))
            return Failed(outcome, kDispatchCannotOpenOutput, ErrnoOr(EINVAL));
    }
    else if ((id = OpenQueue(target, mode, drive, files, uniqueName, outcome)) != kDispatchNoError)
    {
        return id;
    }

    if ((id = Copy(files, size, progress, outcome)) != kDispatchNoError)
        return id;
    // Copied: the input is not held open while the queue is told.
    files.input.reset();

    if (files.queue != nullptr)
    {
        if (files.queue->responseState < 0)
        {
            files.queue->completionCode = kGaveUp;
            return Failed(outcome, kDispatchQueueNotResponding,
                          static_cast<int>(-files.queue->responseState));
        }
        tag_ti_namelist_both record;
        FillSubmission(&record, uniqueName, baseName);
        // A record that did not reach the queue file leaves a copy nobody will plot: that is
        // the same as a queue that did not answer, and the copy stays for a retry by hand.
        const int submitted = files.queue->MsgSubmitMedia(&record);
        if (submitted != 0)
        {
            files.queue->completionCode = kGaveUp;
            return Failed(outcome, kDispatchQueueNotResponding, -submitted);
        }
    }
    return kDispatchNoError;
}

} // namespace

const char* ChooseQueueFile(unsigned char queueFlag, const CString& destination,
                            const char* driveText)
{
    // An explicit destination wins when the drive says so or when the drive names a queue
    // file of its own; the drive's text stands in only for a missing destination.
    const bool haveDestination = !destination.IsEmpty();
    const bool haveText = driveText[0] != '\0';
    const char* chosen;
    if (queueFlag != 0)
        chosen = haveDestination ? destination.GetString() : driveText;
    else
        chosen = haveDestination && haveText ? destination.GetString() : kDefaultPlotQueueFile;
    return chosen[0] != '\0' ? chosen : kDefaultPlotQueueFile;
}

int CopyPlotFile(std::FILE* input, std::FILE* output, CProgressCtrl* progress)
{
    // A stream that cannot be measured and rewound (a pipe) has already lost the header to the
    // check: copying the rest would deliver a file without its first record.
    long size = -1;
    const bool rewound = std::fseek(input, 0, SEEK_END) == 0 && (size = std::ftell(input)) >= 0 &&
                         std::fseek(input, 0, SEEK_SET) == 0;
    // A file that passed the header check has at least 144 bytes; a smaller one must not
    // divide by zero.
    const long long unit = size / 100 > 0 ? size / 100 : 1;
    if (progress != nullptr)
        progress->SetPos(0);

    int result = rewound ? 0 : static_cast<int>(kDispatchCopyFailed);
    unsigned char block[kCopyBlockSize];
    long long copied = 0;
    while (result == 0 && !std::feof(input))
    {
        const std::size_t got = std::fread(block, 1, sizeof block, input);
        if (got == 0)
            break;
        // Some streams (cookie streams on glibc among them) report a failed write only
        // through the error flag, with the full count returned.
        if (std::fwrite(block, 1, got, output) < got || std::ferror(output))
        {
            result = kDispatchCopyFailed;
            break;
        }
        // Counting the bytes read is the input position, since the copy started at 0.
        copied += static_cast<long long>(got);
        if (progress != nullptr)
        {
            const long long position = copied / unit;
            progress->SetPos(position > INT_MAX ? INT_MAX : static_cast<int>(position));
        }
    }
    // A read error ends the loop just like the end of the file; without this check a copy
    // cut short would be reported as delivered. So does a file cut short while it is copied,
    // and one that grew is not the file that was measured and checked either.
    if (result == 0 && (std::ferror(input) || copied != static_cast<long long>(size)))
        result = kDispatchCopyFailed;
    if (progress != nullptr)
        progress->SetPos(100);
    return result;
}

void SplitBaseName(const char* path, char* out, std::size_t outSize)
{
    if (outSize == 0)
        return;
    const char* start = path;
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':')
        start = path + 2;
    for (const char* c = start; *c != '\0'; ++c)
    {
        if (*c == '\\' || *c == '/')
            start = c + 1;
    }
    const char* dot = std::strrchr(start, '.');
    std::size_t length =
        dot != nullptr ? static_cast<std::size_t>(dot - start) : std::strlen(start);
    if (length > outSize - 1)
        length = outSize - 1;
    std::memcpy(out, start, length);
    out[length] = '\0';
}

} // namespace genplot::detail

int DeliverGenericPlot(CString& inputPath, const CString& target, int mode, CString& message,
                       CProgressCtrl* progress, CPlotDelivery* delivery)
{
    // The message texts live in this library's string table, not the host's.
    AFX_MANAGE_STATE(AfxGetStaticModuleState());

    if (progress != nullptr)
    {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }

    // Asked on every call, queue or not, before the input is opened.
    const genplot::detail::DriveInfo drive = genplot::detail::ReadDriveInfo();
    const int known =
        mode == kDeliverToQueue || mode == kDeliverToQueueFile ? mode : kDeliverToPath;
    genplot::detail::Account account;
    const unsigned id =
        genplot::detail::Deliver(inputPath, target, known, progress, drive, &account);
    if (delivery != nullptr)
    {
        delivery->messageId = static_cast<int>(id);
        delivery->systemError = id == genplot::detail::kDispatchNoError ? 0 : account.systemError;
        try
        {
            delivery->target = account.target;
            delivery->spooledName = account.spooledName;
        }
        catch (CMemoryException* error)
        {
            // The outcome stands; only its account is short.
            error->Delete();
        }
    }
    message.LoadString(id);
    return id == genplot::detail::kDispatchNoError ? 1 : 0;
}

int SendGenericPlot(CString& inputPath, CString& destination, CString& message,
                    CProgressCtrl* progress, int toQueue)
{
    return DeliverGenericPlot(inputPath, destination,
                              toQueue != 0 ? kDeliverToQueue : kDeliverToPath, message, progress,
                              nullptr);
}
