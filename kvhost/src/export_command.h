// --export: one export as a report-writing host runs it.
#pragma once

#include "command_line.h"

class ExportModule;
class Messages;
class Output;

// Initialises the module, sets up a job from the destination options (a
// record built from the command line, or a saved block), names each file
// before the one call that posts them all, prints the outcome (the code and
// the module's message on failure), saves the settled options when asked
// and the export succeeded, ends the job and terminates the module.
int ExportFiles(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out, Output& err);
