#include "genplot/plot_queue_access.h"

#include "genplot/plot_dispatch_internal.h"
#include "platform/drive_info.h"
#include "platform/native_path_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace genplot::detail
{
namespace
{

// A record a submitter could have written: a plain, printable, terminated file name and a
// terminated plot name.
bool IsSubmission(const tag_ti_namelist_both& record)
{
    const std::size_t nameLength = strnlen(record.fileName, sizeof record.fileName);
    if (nameLength == 0 || nameLength == sizeof record.fileName)
        return false;
    for (std::size_t i = 0; i < nameLength; ++i)
    {
        const auto c = static_cast<unsigned char>(record.fileName[i]);
        if (c <= 0x20 || c >= 0x7F || c == '/' || c == '\\' || c == ':')
            return false;
    }
    return record.baseName[kQueueBaseNameMax] == '\0';
}

// Reads the next record; false at the end or on a read error.
bool NextRecord(std::FILE* file, tag_ti_namelist_both* record)
{
    return std::fread(record, 1, kQueueRecordSize, file) == kQueueRecordSize;
}

int Finish(CPlotQueueReport* report, const CPlotQueueReport& found)
{
    if (report != nullptr)
        *report = found;
    return found.state;
}

} // namespace
} // namespace genplot::detail

const char* GetPlotQueueDirectory()
{
    return genplot::detail::kPlotQueueDirectory;
}

const char* GetDefaultPlotQueueFile()
{
    return genplot::detail::kDefaultPlotQueueFile;
}

void ChoosePlotQueueFile(const CString& destination, CString& queueFile)
{
    char driveLetter = genplot::detail::kNoDriveLetter;
    unsigned char flag = 0;
    char volumeText[kDriveInfoTextSize] = {};
    char driveText[kDriveInfoTextSize] = {};
    cc_get_driveinfo(&driveLetter, &flag, volumeText, driveText);
    driveText[kDriveInfoTextSize - 1] = '\0';
    // Through a copy: the choice may point into `destination`, which may be `queueFile` itself.
    const CString chosen(genplot::detail::ChooseQueueFile(flag, destination, driveText));
    queueFile = chosen;
}

int GetNativePath(const CString& hostPath, CString& nativePath)
{
    char native[genplot::detail::kNativePathSize];
    const bool mapped =
        std::strlen(hostPath.GetString()) == static_cast<std::size_t>(hostPath.GetLength()) &&
        genplot::detail::NativePath(hostPath.GetString(), native, sizeof native);
    nativePath = mapped ? native : "";
    return mapped ? 1 : 0;
}

int ReadPlotQueue(const CString& queueFile, PlotQueueVisitor visit, void* context,
                  CPlotQueueReport* report)
{
    using genplot::detail::Finish;
    CPlotQueueReport found;
    bool notRegular = false;
    errno = 0;
    std::FILE* file =
        genplot::detail::OpenInputFile(queueFile.GetString(), &notRegular, &found.size);
    if (file == nullptr)
    {
        found.state = notRegular ? kPlotQueueNotRegular : kPlotQueueCannotOpen;
        found.systemError = notRegular ? 0 : (errno != 0 ? errno : ENOENT);
        return Finish(report, found);
    }
    found.recordCount = static_cast<std::size_t>(found.size / kQueueRecordSize);
    if (found.size % static_cast<long long>(kQueueRecordSize) != 0)
    {
        std::fclose(file);
        found.state = kPlotQueuePartialRecord;
        return Finish(report, found);
    }

    // Every record is looked at before the first is handed over: a file that is no queue
    // gives one answer, not a listing that turns into garbage part way.
    tag_ti_namelist_both record;
    std::size_t number = 0;
    while (number < found.recordCount && genplot::detail::NextRecord(file, &record))
    {
        ++number;
        if (!genplot::detail::IsSubmission(record))
        {
            std::fclose(file);
            found.state = kPlotQueueNotRecords;
            found.badRecord = number;
            return Finish(report, found);
        }
    }
    if (number < found.recordCount || std::fseek(file, 0, SEEK_SET) != 0)
    {
        found.systemError = errno != 0 ? errno : EIO;
        std::fclose(file);
        found.state = kPlotQueueReadFailed;
        return Finish(report, found);
    }
    for (number = 1; number <= found.recordCount; ++number)
    {
        if (!genplot::detail::NextRecord(file, &record))
        {
            found.systemError = errno != 0 ? errno : EIO;
            std::fclose(file);
            found.state = kPlotQueueReadFailed;
            return Finish(report, found);
        }
        if (visit != nullptr)
            visit(record, number, context);
    }
    std::fclose(file);
    found.state = kPlotQueueRead;
    return Finish(report, found);
}
