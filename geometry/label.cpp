#include "geometry/label.h"

#include "geometry/bbox.h"
#include "geometry/label_extent_internal.h"
#include "geometry/perim.h"

#include <cmath>
#include <cstdint>
#include <cstring>

CLabel::CLabel() : justification(1), textHeight(0), directionX(10000), directionY(0), position(0, 0)
{
}

CLabel::~CLabel() = default;

void CLabel::CopyLabel(CLabel* target) const
{
    // Text first: if it cannot be copied the target keeps all of its old fields.
    target->text = text;
    target->justification = justification;
    target->textHeight = textHeight;
    target->directionX = directionX;
    target->directionY = directionY;
    target->position.x = position.x;
    target->position.y = position.y;
}

void CLabel::UpdateBoundingBoxes(CPerim* piece, CBBox* box) const
{
    char buffer[512];
    std::strncpy(buffer, text.GetString(), sizeof buffer - 1);
    buffer[sizeof buffer - 1] = '\0';

    CBBox extent;
    genplot::detail::ComputeLabelExtent(position.x, position.y, directionX, directionY,
                                        justification, buffer, textHeight, &extent);
    if (piece != nullptr)
    {
        piece->box.Update(extent.lowerLeft);
        piece->box.Update(extent.upperRight);
    }
    box->Update(extent.lowerLeft);
    box->Update(extent.upperRight);
}

namespace genplot::detail
{
namespace
{

struct TextMeasure
{
    long long lines = 0;
    long long longest = 0;
};

TextMeasure MeasureText(const char* text)
{
    TextMeasure measure;
    if (*text == '\0')
        return measure;
    const char* line = text;
    for (;;)
    {
        const char* end = std::strchr(line, '\r');
        long long length = end != nullptr ? end - line : static_cast<long long>(std::strlen(line));
        ++measure.lines;
        if (length > measure.longest)
            measure.longest = length;
        if (end == nullptr)
            break;
        // The character after "\r" is skipped whatever it is; a final lone "\r" is followed by
        // one empty line, and measuring never reads past the terminator.
        line = end[1] == '\0' ? end + 1 : end + 2;
    }
    return measure;
}

std::int32_t SaturateToInt32(double value)
{
    if (!(value > -2147483649.0))
        return INT32_MIN;
    if (!(value < 2147483648.0))
        return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

} // namespace

void ComputeLabelExtent(long x, long y, long directionX, long directionY, int justification,
                        const char* text, int textHeight, CBBox* extent)
{
    const TextMeasure measure = MeasureText(text);
    const long long height = textHeight;
    const long long width = measure.longest * height;

    // Unturned block, held wide so no sum can wrap.
    long long left = x;
    long long top;
    switch (justification)
    {
    case 2:
        top = y + height / 2;
        break;
    case 5:
        left = x - static_cast<long long>(std::trunc(static_cast<double>(measure.longest) * 0.5 *
                                                     static_cast<double>(textHeight)));
        top = y + height / 2;
        break;
    default: // 1, and every code without a placement of its own
        top = y + height;
        break;
    }
    const long long right = left + width;
    const long long bottom =
        top - static_cast<long long>(std::trunc(static_cast<double>(measure.lines) *
                                                static_cast<double>(textHeight) * 1.5));

    const double theta =
        std::atan2(static_cast<double>(directionY), static_cast<double>(directionX));
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double ax = static_cast<double>(x);
    const double ay = static_cast<double>(y);
    // Truncated like an integer, but kept as a double: the value may lie outside 32 bits.
    const double tx = std::trunc(ax - (ax * c - ay * s));
    const double ty = std::trunc(ay - (ax * s + ay * c));

    const long long corners[4][2] = {{left, top}, {right, top}, {left, bottom}, {right, bottom}};
    std::int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (const auto& corner : corners)
    {
        const double px = static_cast<double>(corner[0]);
        const double py = static_cast<double>(corner[1]);
        const std::int32_t cx = SaturateToInt32(std::trunc(px * c - py * s + tx + 0.5));
        const std::int32_t cy = SaturateToInt32(std::trunc(px * s + py * c + ty + 0.5));
        minX = cx < minX ? cx : minX;
        maxX = cx > maxX ? cx : maxX;
        minY = cy < minY ? cy : minY;
        maxY = cy > maxY ? cy : maxY;
    }
    extent->lowerLeft.x = minX;
    extent->lowerLeft.y = minY;
    extent->upperRight.x = maxX;
    extent->upperRight.y = maxY;
}

} // namespace genplot::detail
