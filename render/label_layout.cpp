#include "render/label_layout_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace genplot::detail
{

std::vector<std::string_view> SplitLabelLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    if (text.empty())
    {
        return lines;
    }
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t cr = text.find('\r', start);
        if (cr == std::string_view::npos)
        {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, cr - start));
        // The byte after "\r" is skipped whatever it is; a "\r" at the very end still opens
        // one empty last line.
        start = cr + 2 <= text.size() ? cr + 2 : text.size();
    }
}

LabelLayout LayOutLabel(const PlotFileAnnotation& label)
{
    LabelLayout layout;
    const long long height = std::llabs(static_cast<long long>(label.textHeight));
    layout.height = static_cast<double>(height);
    const double theta =
        std::atan2(static_cast<double>(label.directionY), static_cast<double>(label.directionX));
    layout.cosine = std::cos(theta);
    layout.sine = std::sin(theta);

    const std::vector<std::string_view> lines = SplitLabelLines(label.text);
    std::size_t longest = 0;
    for (std::string_view line : lines)
    {
        longest = std::max(longest, line.size());
    }
    // The same integer steps as the extent computation: half heights truncate.
    const bool centred = label.justification == 5;
    const bool halfway = label.justification == 2 || centred;
    const double top = halfway ? static_cast<double>(height / 2) : layout.height;
    const double left =
        centred ? -std::trunc(static_cast<double>(longest) * 0.5 * layout.height) : 0.0;
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        LabelLineLayout line;
        line.text = lines[i];
        line.x = left;
        line.y = top - layout.height - 1.5 * layout.height * static_cast<double>(i);
        layout.lines.push_back(line);
    }
    return layout;
}

void LabelToPlot(const PlotFileAnnotation& label, const LabelLayout& layout, double x, double y,
                 double* plotX, double* plotY)
{
    *plotX = static_cast<double>(label.position.x) + x * layout.cosine - y * layout.sine;
    *plotY = static_cast<double>(label.position.y) + x * layout.sine + y * layout.cosine;
}

} // namespace genplot::detail
