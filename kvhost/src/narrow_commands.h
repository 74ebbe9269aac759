// kvhost --ansi: the commands driven through the module's narrow exports,
// as a host built for narrow strings drives them. File names and paths go to
// the module in the thread's ANSI code page (the one the module converts them
// with), the options record's strings in the system's ANSI code page, and
// what comes back is read in the same code pages.
#pragma once

#include "command_line.h"

class Messages;
class NarrowExportModule;
class Output;

// --list-destinations --ansi: the narrow list, in the user's language.
int ListDestinationsNarrow(NarrowExportModule& module, const Messages& messages, Output& out, Output& err);

// --export --ansi: the export of ExportFiles through the narrow exports; an
// options file holds a narrow block (one saved with --ansi --save-options).
int ExportFilesNarrow(NarrowExportModule& module, const HostOptions& options, const Messages& messages, Output& out,
                      Output& err);
