#include "tools/genplot/command_support.h"

#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>

namespace genplot::tool
{

void Fail(const char* command, const std::string& message, int exitCode)
{
    // Messages come from files and the library; keep them on one line whatever they hold.
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::cerr << "genplot " << command << ": " << line << std::endl;
    throw CLI::RuntimeError(exitCode);
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

} // namespace genplot::tool
