#pragma once

// Each subcommand of the genplot program registers itself on the application here; main.cpp
// calls every Add...Command in turn.

namespace CLI
{
class App;
}

namespace genplot::tool
{

void AddConvertCommand(CLI::App& app);
void AddCheckCommand(CLI::App& app);
void AddSendCommand(CLI::App& app);
void AddQueueCommand(CLI::App& app);
void AddDumpCommand(CLI::App& app);
void AddVerifyCommand(CLI::App& app);
void AddRenderCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
#if defined(GENPLOT_WITH_SPOOL)
void AddSpoolCommand(CLI::App& app);
#endif

} // namespace genplot::tool
