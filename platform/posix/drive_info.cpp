#include "platform/drive_info.h"

#include "platform/drive_info_internal.h"

#include <cstdlib>
#include <cstring>

namespace genplot::detail
{

bool ReadQueueFlag(unsigned char* flag)
{
    return ParseQueueFlag(std::getenv("GENPLOT_QUEUE_FLAG"), flag);
}

bool ReadQueueFile(char* out)
{
    const char* text = std::getenv("GENPLOT_QUEUE_FILE");
    return CopyQueueFile(text, text != nullptr ? std::strlen(text) : 0, out);
}

} // namespace genplot::detail

int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
{
    return genplot::detail::FillDriveInfo(driveLetter, queueFlag, volumeText, queueFile);
}
