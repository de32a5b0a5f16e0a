#include "render/label_layout_internal.h"
#include "render/plot_drawing_internal.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

// Widths and dashes are in page points, the same on every format and at every scale, so a
// plot reads alike on paper and on screen. The file stores pen modes, not pen numbers: the
// n-th pen-mode record of a piece draws in the n-th colour of the palette, strong colours
// for pen mode 0x0400 and muted ones for 0x0401.

namespace genplot::detail
{
namespace
{

struct Colour
{
    double r;
    double g;
    double b;
};

constexpr Colour Rgb(unsigned value)
{
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0};
}

constexpr Colour kStrongPens[] = {Rgb(0x1f4e9c), Rgb(0xc0392b), Rgb(0x1e8449), Rgb(0x8e44ad),
                                  Rgb(0xd35400), Rgb(0x117a8b), Rgb(0xb7950b), Rgb(0xc2185b)};
constexpr Colour kMutedPens[] = {Rgb(0x7f8c8d), Rgb(0xa1887f), Rgb(0x90a4ae), Rgb(0xbcaaa4),
                                 Rgb(0x9fa8da), Rgb(0xa5d6a7), Rgb(0xffcc80), Rgb(0xce93d8)};
constexpr Colour kLabelColour = Rgb(0x202020);
constexpr Colour kBoxColour = Rgb(0x9e9e9e);
constexpr Colour kBlack = Rgb(0x000000);

constexpr double kOutlineWidth = 1.0;
constexpr double kLineWidth = 0.6;
constexpr double kBoxWidth = 0.3;
constexpr double kDash[] = {4.0, 2.5};
constexpr double kBoxDash[] = {0.6, 0.9};
constexpr double kCropMarkLength = 7.0;
constexpr double kCropMarkGap = 2.0;
// Points gathered into one stroke at most: enough that the drawing state recorded with each
// stroke costs little per point, few enough that the path cairo copies when it records the
// stroke stays small.
constexpr std::size_t kPointsPerStroke = 4096;

// The glyph run is stretched so that its ink spans the block the library measures: this
// string's tallest ink stands in for the top of a line (ascenders, not accents).
constexpr const char* kTallGlyphs = "bdfhklH|[(";
constexpr const char* kFontFamily = "DejaVu Sans Mono";

class PageDrawer
{
  public:
    PageDrawer(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
               const PagePlan& plan, int column, int row)
        : cr_(cr), plot_(plot), options_(options), plan_(plan)
    {
        offsetX_ = plan.offsetX - column * plan.tileWidth;
        offsetY_ = plan.offsetY - row * plan.tileHeight;
    }

    bool Draw(const PieceSource& pieces)
    {
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_paint(cr_);
        cairo_save(cr_);
        if (plan_.tiled)
        {
            cairo_rectangle(cr_, plan_.margin, plan_.margin, plan_.tileWidth, plan_.tileHeight);
            cairo_clip(cr_);
        }
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
        const bool allPieces = pieces([this](const PlotFilePiece& piece) {
            if (Visible(piece.box))
            {
                DrawPiece(piece);
            }
        });
        SetUpFont();
        for (const auto* section : {&plot_.looseAnnotations, &plot_.pieceAnnotations})
        {
            for (const PlotFileAnnotation& label : *section)
            {
                DrawLabel(label);
            }
        }
        cairo_restore(cr_);
        if (plan_.tiled)
        {
            DrawCropMarks();
        }
        return allPieces;
    }

  private:
    double PageX(double x) const
    {
        return offsetX_ + x * plan_.scale;
    }

    double PageY(double y) const
    {
        return offsetY_ - y * plan_.scale;
    }

    // On a tile, a piece whose box lies wholly off the tile is skipped; an empty or crossed
    // box (a damaged file) is drawn anyway.
    bool Visible(const PlotFileBox& box) const
    {
        if (!plan_.tiled || box.lowerLeft.x > box.upperRight.x ||
            box.lowerLeft.y > box.upperRight.y)
        {
            return true;
        }
        const double left = PageX(box.lowerLeft.x) - kOutlineWidth;
        const double right = PageX(box.upperRight.x) + kOutlineWidth;
        const double top = PageY(box.upperRight.y) - kOutlineWidth;
        const double bottom = PageY(box.lowerLeft.y) + kOutlineWidth;
        return right >= plan_.margin && left <= plan_.margin + plan_.tileWidth &&
               bottom >= plan_.margin && top <= plan_.margin + plan_.tileHeight;
    }

    void SetColour(const Colour& colour)
    {
        const Colour& c = options_.mono ? kBlack : colour;
        cairo_set_source_rgb(cr_, c.r, c.g, c.b);
    }

    static const Colour& PenColour(int pen, bool penOff)
    {
        const std::size_t count = sizeof kStrongPens / sizeof kStrongPens[0];
        const std::size_t slot = pen < 0 ? 0 : static_cast<std::size_t>(pen) % count;
        return penOff ? kMutedPens[slot] : kStrongPens[slot];
    }

    void DrawPiece(const PlotFilePiece& piece)
    {
        int pen = -1;
        bool penOff = false;
        bool dashed = false;
        bool outlineSeen = false;
        bool previousWasOutline = false;
        for (const PlotPieceRecord& record : piece.records)
        {
            switch (record.type)
            {
            case RecordType::PenMode:
            case RecordType::PenModeOff:
                ++pen;
                penOff = record.type == RecordType::PenModeOff;
                break;
            case RecordType::LineType:
                dashed = record.lineTypeCode != 1;
                break;
            case RecordType::Polyline: {
                // A long outline arrives as several records; its follow-on records are
                // still outline.
                const bool outline =
                    !outlineSeen || (record.continuesPrevious && previousWasOutline);
                outlineSeen = true;
                previousWasOutline = outline;
                DrawPolyline(record, PenColour(pen, penOff), outline ? kOutlineWidth : kLineWidth,
                             dashed);
                break;
            }
            default:
                break;
            }
        }
        StrokePending();
        if (options_.boxes)
        {
            DrawBox(piece.box);
        }
    }

    // Consecutive polylines drawn alike go into one path, stroked once: every stroke a
    // vector surface records keeps its own copy of the drawing state, which would cost far
    // more than the points of a short polyline. Opaque strokes of one colour look the same
    // stroked together or one by one, and a dash pattern starts again with every subpath.
    void DrawPolyline(const PlotPieceRecord& record, const Colour& colour, double width,
                      bool dashed)
    {
        const std::vector<PlotFilePoint>& points = record.points;
        if (points.empty())
        {
            return;
        }
        const Colour& ink = options_.mono ? kBlack : colour;
        if (pending_ && (pendingPoints_ >= kPointsPerStroke || width != pendingWidth_ ||
                         dashed != pendingDashed_ || ink.r != pendingInk_.r ||
                         ink.g != pendingInk_.g || ink.b != pendingInk_.b))
        {
            StrokePending();
        }
        if (!pending_)
        {
            pending_ = true;
            pendingPoints_ = 0;
            pendingWidth_ = width;
            pendingDashed_ = dashed;
            pendingInk_ = ink;
            cairo_new_path(cr_);
        }
        cairo_move_to(cr_, PageX(points[0].x), PageY(points[0].y));
        for (std::size_t i = 1; i < points.size(); ++i)
        {
            cairo_line_to(cr_, PageX(points[i].x), PageY(points[i].y));
        }
        if (points.size() == 1)
        {
            // A zero-length segment, so that the round cap shows the lone point as a dot.
            cairo_line_to(cr_, PageX(points[0].x), PageY(points[0].y));
        }
        pendingPoints_ += points.size();
    }

    void StrokePending()
    {
        if (!pending_)
        {
            return;
        }
        pending_ = false;
        cairo_set_source_rgb(cr_, pendingInk_.r, pendingInk_.g, pendingInk_.b);
        cairo_set_line_width(cr_, pendingWidth_);
        cairo_set_dash(cr_, kDash, pendingDashed_ ? 2 : 0, 0);
        cairo_stroke(cr_);
    }

    void DrawBox(const PlotFileBox& box)
    {
        if (box.lowerLeft.x > box.upperRight.x || box.lowerLeft.y > box.upperRight.y)
        {
            return;
        }
        const double left = PageX(box.lowerLeft.x);
        const double top = PageY(box.upperRight.y);
        cairo_new_path(cr_);
        cairo_rectangle(cr_, left, top, PageX(box.upperRight.x) - left,
                        PageY(box.lowerLeft.y) - top);
        cairo_set_source_rgb(cr_, kBoxColour.r, kBoxColour.g, kBoxColour.b);
        cairo_set_line_width(cr_, kBoxWidth);
        cairo_set_dash(cr_, kBoxDash, 2, 0);
        cairo_stroke(cr_);
    }

    // -- labels --------------------------------------------------------------------------

    void SetUpFont()
    {
        cairo_select_font_face(cr_, kFontFamily, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        // Unhinted outlines and metrics: the glyphs are stretched to exact sizes, and every
        // format must put the ink in the same place.
        cairo_font_options_t* fontOptions = cairo_font_options_create();
        cairo_font_options_set_hint_style(fontOptions, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(fontOptions, CAIRO_HINT_METRICS_OFF);
        cairo_set_font_options(cr_, fontOptions);
        cairo_font_options_destroy(fontOptions);
        // Measured at a large size under a plain matrix, then scaled.
        cairo_save(cr_);
        cairo_identity_matrix(cr_);
        cairo_set_font_size(cr_, kMeasureSize);
        cairo_text_extents_t extents;
        cairo_text_extents(cr_, kTallGlyphs, &extents);
        tallInk_ = -extents.y_bearing / kMeasureSize;
        cairo_restore(cr_);
    }

    void DrawLabel(const PlotFileAnnotation& label)
    {
        if (options_.boxes)
        {
            DrawBox(label.extent);
        }
        const LabelLayout layout = LayOutLabel(label);
        if (layout.height <= 0 || tallInk_ <= 0)
        {
            return;
        }
        SetColour(kLabelColour);
        const double angle = std::atan2(layout.sine, layout.cosine);
        for (const LabelLineLayout& line : layout.lines)
        {
            if (line.text.empty())
            {
                continue;
            }
            const std::string text = LabelTextToUtf8(line.text);
            const double advance = NaturalAdvance(text);
            if (advance <= 0)
            {
                continue;
            }
            cairo_save(cr_);
            // The line's own frame: x along the text, y up, in plot units.
            cairo_translate(cr_, PageX(label.position.x), PageY(label.position.y));
            cairo_scale(cr_, plan_.scale, -plan_.scale);
            cairo_rotate(cr_, angle);
            cairo_translate(cr_, line.x, line.y);
            cairo_scale(cr_, 1, -1);
            // The run stretched to one height per byte, its tallest ink one height high.
            cairo_matrix_t font;
            cairo_matrix_init_scale(&font,
                                    static_cast<double>(line.text.size()) * layout.height / advance,
                                    layout.height / tallInk_);
            cairo_set_font_matrix(cr_, &font);
            cairo_move_to(cr_, 0, 0);
            cairo_show_text(cr_, text.c_str());
            cairo_restore(cr_);
        }
    }

    // The advance of a run at font size 1, measured at a large size under a plain matrix (a
    // tiny page scale would leave the font engine too few bits).
    double NaturalAdvance(const std::string& text)
    {
        cairo_save(cr_);
        cairo_identity_matrix(cr_);
        cairo_set_font_size(cr_, kMeasureSize);
        cairo_text_extents_t extents;
        cairo_text_extents(cr_, text.c_str(), &extents);
        cairo_restore(cr_);
        return extents.x_advance / kMeasureSize;
    }

    void DrawCropMarks()
    {
        const double left = plan_.margin;
        const double top = plan_.margin;
        const double right = plan_.margin + plan_.tileWidth;
        const double bottom = plan_.margin + plan_.tileHeight;
        cairo_set_source_rgb(cr_, 0, 0, 0);
        cairo_set_line_width(cr_, 0.3);
        cairo_set_dash(cr_, nullptr, 0, 0);
        cairo_new_path(cr_);
        for (const double x : {left, right})
        {
            for (const double y : {top, bottom})
            {
                const double outX = x == left ? -1 : 1;
                const double outY = y == top ? -1 : 1;
                // One mark along each edge, outside the printable area.
                cairo_move_to(cr_, x + outX * kCropMarkGap, y);
                cairo_line_to(cr_, x + outX * (kCropMarkGap + kCropMarkLength), y);
                cairo_move_to(cr_, x, y + outY * kCropMarkGap);
                cairo_line_to(cr_, x, y + outY * (kCropMarkGap + kCropMarkLength));
            }
        }
        cairo_stroke(cr_);
    }

    static constexpr double kMeasureSize = 1000.0;

    cairo_t* cr_;
    const PlotFile& plot_;
    const render::RenderOptions& options_;
    const PagePlan& plan_;
    double offsetX_ = 0;
    double offsetY_ = 0;
    double tallInk_ = 0;

    // The path being gathered for one stroke, and how it is to be drawn.
    bool pending_ = false;
    std::size_t pendingPoints_ = 0;
    double pendingWidth_ = 0;
    bool pendingDashed_ = false;
    Colour pendingInk_{0, 0, 0};
};

} // namespace

bool DrawPlotPage(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
                  const PagePlan& plan, int column, int row, const PieceSource& pieces)
{
    return PageDrawer(cr, plot, options, plan, column, row).Draw(pieces);
}

void DrawPlotPage(cairo_t* cr, const PlotFile& plot, const render::RenderOptions& options,
                  const PagePlan& plan, int column, int row)
{
    DrawPlotPage(cr, plot, options, plan, column, row, [&plot](const PieceDrawer& draw) {
        for (const PlotFilePiece& piece : plot.pieces)
        {
            draw(piece);
        }
        return true;
    });
}

} // namespace genplot::detail
