// kvhost's commands. Each returns the program's exit code.
#pragma once

#include "command_line.h"

class Messages;
class Output;
class ExportModule;

// 1: the module failed (not loadable, a code other than 0) or a file kvhost
// reads or writes could not be used.
enum HostExitCode { kExitSuccess = 0, kExitModuleFailed = 1, kExitUsage = 2 };

// Runs what the command line asks for.
int RunHost(const ParsedCommandLine& commandLine, const Messages& messages, Output& out, Output& err);

// --list-destinations: initialises the module, prints its destination list
// in the requested (or the user's) language, terminates the module.
int ListDestinations(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out,
                     Output& err);
