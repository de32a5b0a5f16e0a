#include "spool/print_language.h"

#include "render/hpgl_export.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace genplot::spool
{

bool ParsePrintLanguage(const std::string& text, PrintLanguage* language)
{
    if (text == "hpgl2")
        *language = PrintLanguage::Hpgl2;
    else if (text == "hpgl")
        *language = PrintLanguage::Hpgl;
    else if (text == "pdf")
        *language = PrintLanguage::Pdf;
    else
        return false;
    return true;
}

const char* DocumentFormat(PrintLanguage language)
{
    return language == PrintLanguage::Pdf ? "application/pdf" : "application/vnd.cups-raw";
}

bool ConvertPlot(const PlotFile& plot, PrintLanguage language, const render::RenderOptions& page,
                 std::string& bytes, std::string& error)
{
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (out == nullptr)
    {
        error = std::string("cannot convert: ") + std::strerror(errno);
        return false;
    }
    bool converted = false;
    std::string why;
    switch (language)
    {
    case PrintLanguage::Hpgl2:
        converted = render::ExportHpgl(plot, out, render::HpglDialect::Hpgl2);
        break;
    case PrintLanguage::Hpgl:
        converted = render::ExportHpgl(plot, out, render::HpglDialect::Hpgl1);
        break;
    case PrintLanguage::Pdf:
        converted = render::RenderPlot(plot, page, render::Format::Pdf, out, &why);
        break;
    }
    const bool closed = std::fclose(out) == 0;
    if (converted && closed)
        bytes.assign(buffer, size);
    std::free(buffer);
    if (!converted || !closed)
    {
        error = "cannot convert: " + (why.empty() ? std::string("the exporter failed") : why);
        return false;
    }
    return true;
}

} // namespace genplot::spool
