#include "genplot/plot_dispatch.h"

#include "genplot/plot_dispatch_internal.h"
#include "platform/drive_info.h"
#include "platform/exception.h"
#include "platform/module_state.h"
#include "platform/native_path_internal.h"
#include "platform/plot_queue.h"

#include <climits>
#include <cstring>

namespace genplot::detail
{
namespace
{

constexpr char kQueueDirectory[] = "c:\\userroot\\devq\\plotter\\";
constexpr char kDefaultQueueFile[] = "C:\\plotque.que";
constexpr char kUniqueNameTag[] = "ggt";
constexpr std::size_t kNameBufferSize = 256;

// A path is handed on as a C string: a NUL inside the text would silently name another file.
bool IsPathText(const CString& text)
{
    return std::strlen(text.GetString()) == static_cast<std::size_t>(text.GetLength());
}

// The queue file: an explicit destination wins when the drive says so or when the drive
// names a queue file of its own; the drive's text stands in only for a missing destination.
const char* ChooseQueueFile(unsigned char queueFlag, const CString& destination,
                            const char* driveText)
{
    const bool haveDestination = !destination.IsEmpty();
    const bool haveText = driveText[0] != '\0';
    const char* chosen;
    if (queueFlag != 0)
        chosen = haveDestination ? destination.GetString() : driveText;
    else
        chosen = haveDestination && haveText ? destination.GetString() : kDefaultQueueFile;
    return chosen[0] != '\0' ? chosen : kDefaultQueueFile;
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
    record->driveName[0] = 'c';
    record->mediaKind = 4;
    record->copies = 1;
}

struct DriveInfo
{
    unsigned char queueFlag;
    char queueText[kDriveInfoTextSize];
};

// The delivery proper, after the progress set-up; returns the message number. Every path
// closes the input it opened and destroys the queue client it made.
unsigned Deliver(const CString& inputPath, const CString& destination, CProgressCtrl* progress,
                 int toQueue, const DriveInfo& drive)
{
    std::FILE* input = IsPathText(inputPath) ? OpenHostFile(inputPath.GetString(), "rb") : nullptr;
    if (input == nullptr)
        return kDispatchCannotOpenInput;
    if (CheckPlotFileHeader(input) == 0)
    {
        std::fclose(input);
        return kDispatchNotAPlotFile;
    }
    char baseName[kNameBufferSize];
    SplitBaseName(inputPath.GetString(), baseName, sizeof baseName);

    CPlotterQueue* queue = nullptr;
    char uniqueName[kNameBufferSize] = {};
    std::FILE* output = nullptr;
    if (toQueue == 0)
    {
        output = IsPathText(destination) ? OpenOutputFile(destination.GetString(), input) : nullptr;
    }
    else
    {
        const char* queueFile = ChooseQueueFile(drive.queueFlag, destination, drive.queueText);
        // A path the client could only take cut short would name another queue: refuse it
        // before anything is made or copied.
        if (std::strlen(queueFile) > kQueueFilePathMax ||
            (queueFile == destination.GetString() && !IsPathText(destination)))
        {
            std::fclose(input);
            return kDispatchQueueNotResponding;
        }
        try
        {
            queue = new CPlotterQueue(queueFile, 1);
        }
        catch (CMemoryException* error)
        {
            error->Delete();
            std::fclose(input);
            return kDispatchNoMemory;
        }
        output = CreateUniqueFileName(kQueueDirectory, nullptr, kUniqueNameTag, uniqueName, "wb");
    }
    if (output == nullptr)
    {
        std::fclose(input);
        delete queue;
        return kDispatchCannotOpenOutput;
    }

    int copyResult = CopyPlotFile(input, output, progress);
    // The last block may still sit in the stream's buffer: a flush that fails on a full disk
    // shows only here, and a copy missing its end is not a delivered file.
    if (std::fclose(output) != 0 && copyResult == 0)
        copyResult = kDispatchCopyFailed;
    std::fclose(input);
    if (copyResult != 0)
    {
        delete queue;
        return kDispatchCopyFailed;
    }

    if (queue != nullptr)
    {
        if (queue->responseState < 0)
        {
            queue->completionCode = 3;
            delete queue;
            return kDispatchQueueNotResponding;
        }
        tag_ti_namelist_both record;
        FillSubmission(&record, uniqueName, baseName);
        queue->MsgSubmitMedia(&record);
        delete queue;
    }
    return kDispatchNoError;
}

} // namespace

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
    // cut short would be reported as delivered.
    if (result == 0 && std::ferror(input))
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

int SendGenericPlot(CString& inputPath, CString& destination, CString& message,
                    CProgressCtrl* progress, int toQueue)
{
    // The message texts live in this library's string table, not the host's.
    AFX_MANAGE_STATE(AfxGetStaticModuleState());

    if (progress != nullptr)
    {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }

    // Asked on every call, queue or not, before the input is opened.
    char driveLetter = '!';
    char volumeText[kDriveInfoTextSize] = {};
    genplot::detail::DriveInfo drive = {0, {}};
    cc_get_driveinfo(&driveLetter, &drive.queueFlag, volumeText, drive.queueText);
    drive.queueText[kDriveInfoTextSize - 1] = '\0';

    const unsigned id = genplot::detail::Deliver(inputPath, destination, progress, toQueue, drive);
    message.LoadString(id);
    return id == genplot::detail::kDispatchNoError ? 1 : 0;
}
