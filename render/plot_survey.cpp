#include "render/plot_survey_internal.h"

namespace genplot::detail
{
namespace
{

bool SamePoint(const PlotFilePoint& a, const PlotFilePoint& b)
{
    return a.x == b.x && a.y == b.y;
}

bool SameBox(const PlotFileBox& a, const PlotFileBox& b)
{
    return SamePoint(a.lowerLeft, b.lowerLeft) && SamePoint(a.upperRight, b.upperRight);
}

bool SameHeader(const PlotFileHeader& a, const PlotFileHeader& b)
{
    return a.sourceName == b.sourceName && a.configFlag == b.configFlag &&
           SameBox(a.extents, b.extents) && a.looseAnnotationCount == b.looseAnnotationCount &&
           a.pieceAnnotationCount == b.pieceAnnotationCount && a.pieceCount == b.pieceCount &&
           a.defaultTextHeight == b.defaultTextHeight && a.configValues == b.configValues &&
           a.sectionOffsets == b.sectionOffsets;
}

bool SamePieceEntries(const std::vector<PlotFilePiece>& a, const std::vector<PlotFilePiece>& b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        if (a[i].entryOffset != b[i].entryOffset || !SameBox(a[i].box, b[i].box) ||
            a[i].recordOffset != b[i].recordOffset || a[i].sectionOffset != b[i].sectionOffset)
        {
            return false;
        }
    }
    return true;
}

bool SameLabels(const std::vector<PlotFileAnnotation>& a, const std::vector<PlotFileAnnotation>& b)
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i)
    {
        const PlotFileAnnotation& x = a[i];
        const PlotFileAnnotation& y = b[i];
        if (x.offset != y.offset || x.flags != y.flags || x.justification != y.justification ||
            !SameBox(x.extent, y.extent) || !SamePoint(x.position, y.position) ||
            x.directionX != y.directionX || x.directionY != y.directionY ||
            x.textHeight != y.textHeight || x.text != y.text)
        {
            return false;
        }
    }
    return true;
}

} // namespace

PlotBounds PointBounds(const render::PlotSurvey& survey)
{
    PlotBounds bounds;
    if (survey.hasPoints)
    {
        bounds.Add(survey.points.lowerLeft.x, survey.points.lowerLeft.y);
        bounds.Add(survey.points.upperRight.x, survey.points.upperRight.y);
    }
    return bounds;
}

bool SameOutline(const PlotFile& first, const PlotFile& second)
{
    return first.status == second.status && first.problemOffset == second.problemOffset &&
           first.problem == second.problem && first.size == second.size &&
           first.hasHeader == second.hasHeader && SameHeader(first.header, second.header) &&
           first.markersRead == second.markersRead && first.hasPieceTable == second.hasPieceTable &&
           SamePieceEntries(first.pieces, second.pieces) &&
           SameLabels(first.looseAnnotations, second.looseAnnotations) &&
           SameLabels(first.pieceAnnotations, second.pieceAnnotations) &&
           first.hasEnd == second.hasEnd && first.endOffset == second.endOffset;
}

} // namespace genplot::detail

namespace genplot::render
{

PlotSurvey SurveyPlotFile(const std::string& path)
{
    detail::PlotBounds points;
    PlotSurvey survey;
    survey.file = LoadPlotFile(path, [&points](const PlotFilePiece& piece) {
        points.AddPoints(piece);
        return true;
    });
    survey.hasPoints = !points.empty;
    if (survey.hasPoints)
    {
        // The points are whole numbers: the box holds them exactly.
        survey.points.lowerLeft = {static_cast<std::int32_t>(points.minX),
                                   static_cast<std::int32_t>(points.minY)};
        survey.points.upperRight = {static_cast<std::int32_t>(points.maxX),
                                    static_cast<std::int32_t>(points.maxY)};
    }
    return survey;
}

} // namespace genplot::render
