#include "render/render.h"

#include "render/page_layout_internal.h"
#include "render/plot_drawing_internal.h"
#include "render/plot_survey_internal.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <memory>

namespace genplot::render
{
namespace
{

struct PaperSize
{
    const char* name;
    double width;
    double height;
};

constexpr PaperSize kPapers[] = {
    {"a0", 841, 1189}, {"a1", 594, 841},         {"a2", 420, 594},         {"a3", 297, 420},
    {"a4", 210, 297},  {"letter", 215.9, 279.4}, {"ledger", 279.4, 431.8},
};

// Where cairo's output goes: straight to the caller's stream, the first failure remembered.
struct StreamSink
{
    std::FILE* out = nullptr;
    int error = 0;
};

cairo_status_t WriteToStream(void* closure, const unsigned char* data, unsigned int length)
{
    auto* sink = static_cast<StreamSink*>(closure);
    if (sink->error != 0)
    {
        return CAIRO_STATUS_WRITE_ERROR;
    }
    if (length != 0 && std::fwrite(data, 1, length, sink->out) != length)
    {
        sink->error = errno != 0 ? errno : EIO;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

struct SurfaceDeleter
{
    void operator()(cairo_surface_t* surface) const
    {
        cairo_surface_destroy(surface);
    }
};
struct ContextDeleter
{
    void operator()(cairo_t* cr) const
    {
        cairo_destroy(cr);
    }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

bool Fail(std::string* error, const std::string& reason)
{
    if (error != nullptr)
    {
        *error = reason;
    }
    return false;
}

std::string WriteFailure(const StreamSink& sink, cairo_status_t status)
{
    if (sink.error != 0)
    {
        return std::string("writing the picture failed: ") + std::strerror(sink.error);
    }
    return std::string("drawing failed: ") + cairo_status_to_string(status);
}

Surface CreateSurface(Format format, const detail::PagePlan& plan, StreamSink* sink,
                      const PlotFile& plot)
{
    switch (format)
    {
    case Format::Pdf: {
        Surface surface(cairo_pdf_surface_create_for_stream(WriteToStream, sink, plan.pageWidth,
                                                            plan.pageHeight));
        cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "genplot");
        if (plot.hasHeader && !plot.header.sourceName.empty())
        {
            const std::string title = detail::LabelTextToUtf8(plot.header.sourceName);
            cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
        }
        return surface;
    }
    case Format::Svg: {
        Surface surface(cairo_svg_surface_create_for_stream(WriteToStream, sink, plan.pageWidth,
                                                            plan.pageHeight));
        cairo_svg_surface_restrict_to_version(surface.get(), CAIRO_SVG_VERSION_1_1);
        cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PT);
        return surface;
    }
    case Format::Png:
    default: {
        const int width = static_cast<int>(std::ceil(plan.pageWidth * plan.pixelsPerPoint));
        const int height = static_cast<int>(std::ceil(plan.pageHeight * plan.pixelsPerPoint));
        // RGB without alpha: the page is painted white, and viewers show it the same.
        return Surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 1),
                                                  std::max(height, 1)));
    }
    }
}

// Draws every page, each with the pieces `pieces` hands over; ReadFailed when it fails to
// hand them all (having said why in `*error`).
RenderOutcome DrawPicture(const PlotFile& plot, const detail::PlotBounds& measured,
                          const detail::PieceSource& pieces, const RenderOptions& options,
                          Format format, std::FILE* out, std::string* error)
{
    detail::PagePlan plan;
    if (!detail::PlanPages(plot, measured, options, format, &plan, error))
    {
        return RenderOutcome::DrawFailed;
    }
    StreamSink sink;
    sink.out = out;
    Surface surface = CreateSurface(format, plan, &sink, plot);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    {
        Fail(error, WriteFailure(sink, cairo_surface_status(surface.get())));
        return RenderOutcome::DrawFailed;
    }
    {
        Context cr(cairo_create(surface.get()));
        cairo_scale(cr.get(), plan.pixelsPerPoint, plan.pixelsPerPoint);
        for (int row = 0; row < plan.rows; ++row)
        {
            for (int column = 0; column < plan.columns; ++column)
            {
                const bool allPieces =
                    detail::DrawPlotPage(cr.get(), plot, options, plan, column, row, pieces);
                if (format == Format::Pdf)
                {
                    cairo_show_page(cr.get());
                }
                if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
                {
                    Fail(error, WriteFailure(sink, cairo_status(cr.get())));
                    return RenderOutcome::DrawFailed;
                }
                if (!allPieces)
                {
                    return RenderOutcome::ReadFailed;
                }
            }
        }
    }
    if (format == Format::Png)
    {
        cairo_surface_flush(surface.get());
        const cairo_status_t status =
            cairo_surface_write_to_png_stream(surface.get(), WriteToStream, &sink);
        if (status != CAIRO_STATUS_SUCCESS)
        {
            Fail(error, WriteFailure(sink, status));
            return RenderOutcome::DrawFailed;
        }
    }
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS || sink.error != 0)
    {
        Fail(error, WriteFailure(sink, cairo_surface_status(surface.get())));
        return RenderOutcome::DrawFailed;
    }
    if (std::fflush(out) != 0 || std::ferror(out))
    {
        Fail(error, std::string("writing the picture failed: ") + std::strerror(errno));
        return RenderOutcome::DrawFailed;
    }
    return RenderOutcome::Drawn;
}

} // namespace

bool RenderPlot(const PlotFile& plot, const RenderOptions& options, Format format, std::FILE* out,
                std::string* error)
{
    const detail::PieceSource pieces = [&plot](const detail::PieceDrawer& draw) {
        for (const PlotFilePiece& piece : plot.pieces)
        {
            draw(piece);
        }
        return true;
    };
    return DrawPicture(plot, detail::MeasurePlot(plot), pieces, options, format, out, error) ==
           RenderOutcome::Drawn;
}

RenderOutcome RenderPlotFile(const PlotSurvey& survey, const std::string& path,
                             const RenderOptions& options, Format format, std::FILE* out,
                             std::string* error)
{
    const detail::PlotBounds surveyed = detail::PointBounds(survey);
    // Each page reads the file again and draws its pieces as they arrive; what the reading
    // returns must be what the survey found, or the page plan no longer fits the file.
    const detail::PieceSource pieces = [&](const detail::PieceDrawer& draw) {
        detail::PlotBounds points;
        const PlotFile again = LoadPlotFile(path, [&](const PlotFilePiece& piece) {
            points.AddPoints(piece);
            draw(piece);
            return true;
        });
        if (again.status == PlotFileStatus::Unreadable &&
            survey.file.status != PlotFileStatus::Unreadable)
        {
            return Fail(error, again.problem);
        }
        if (!detail::SameOutline(survey.file, again) || points.empty != surveyed.empty ||
            points.minX != surveyed.minX || points.minY != surveyed.minY ||
            points.maxX != surveyed.maxX || points.maxY != surveyed.maxY)
        {
            return Fail(error, "the file changed while it was drawn");
        }
        return true;
    };
    return DrawPicture(survey.file, detail::MeasurePlot(survey.file, surveyed), pieces, options,
                       format, out, error);
}

bool RenderPlotToPath(const PlotFile& plot, const RenderOptions& options, Format format,
                      const std::string& path, std::string* error)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
    {
        return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
    }
    const bool drawn = RenderPlot(plot, options, format, out, error);
    const bool closed = std::fclose(out) == 0;
    if (drawn && !closed)
    {
        return Fail(error, "writing " + path + " failed: " + std::strerror(errno));
    }
    return drawn && closed;
}

void ReleaseDrawingCaches()
{
    cairo_debug_reset_static_data();
    FcFini();
}

bool ParsePaper(const std::string& text, double* widthMm, double* heightMm)
{
    std::string lower;
    for (char c : text)
    {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const PaperSize& paper : kPapers)
    {
        if (lower == paper.name)
        {
            *widthMm = paper.width;
            *heightMm = paper.height;
            return true;
        }
    }
    // WIDTHxHEIGHTmm, with decimals allowed.
    if (lower.size() < 5 || lower.compare(lower.size() - 2, 2, "mm") != 0)
    {
        return false;
    }
    const std::string body = lower.substr(0, lower.size() - 2);
    const std::size_t cross = body.find('x');
    if (cross == std::string::npos)
    {
        return false;
    }
    const auto number = [](const std::string& part, double* value) {
        for (const char c : part)
        {
            if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.')
            {
                return false;
            }
        }
        char* end = nullptr;
        *value = std::strtod(part.c_str(), &end);
        return end == part.c_str() + part.size() && *value > 0 && *value <= 100000;
    };
    double width = 0;
    double height = 0;
    if (!number(body.substr(0, cross), &width) || !number(body.substr(cross + 1), &height))
    {
        return false;
    }
    *widthMm = width;
    *heightMm = height;
    return true;
}

bool FormatFromFileName(const std::string& path, Format* format)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    {
        return false;
    }
    std::string extension;
    for (char c : path.substr(dot + 1))
    {
        extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension == "pdf")
    {
        *format = Format::Pdf;
    }
    else if (extension == "png")
    {
        *format = Format::Png;
    }
    else if (extension == "svg")
    {
        *format = Format::Svg;
    }
    else
    {
        return false;
    }
    return true;
}

} // namespace genplot::render
