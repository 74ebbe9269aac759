// --export: one export as a report-writing host runs it, through the wide
// exports or (kvhost --ansi) the narrow ones. One driver for both: only the
// records and the calls differ, and they are behind ExportCalls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "interface/kve_api.h"

class ExportModule;
class Messages;
class Output;

// The destination a job settled, as the module decodes it, in wide text.
struct SettledDestination {
  uint16_t postingKind = 0;
  bool hasFolder = false;
  std::wstring folder;
  std::wstring profile;
};

// The settled options as the module encodes them; the module owns the bytes.
struct EncodedOptions {
  const void* bytes = nullptr;
  WORD size = 0;
  uint16_t postingKind = 0;
};

// The host's records of the files in one width: each posted under its own
// name, from its full path. The records point into paths, which must stay put.
template <typename Char>
struct FileRecords {
  std::vector<std::basic_string<Char>> paths;
  std::vector<KVEExportFileT<Char>> files;
  std::vector<KVEExportFileT<Char>*> filePointers;
  std::vector<const Char*> pathPointers;
  KVEExportInfoT<Char> info = {};
  KVEExportRequestT<Char> request = {};

  FileRecords(std::vector<std::basic_string<Char>> fullPaths, DWORD language) : paths(std::move(fullPaths)) {
    const size_t count = paths.size();
    files.resize(count);
    filePointers.resize(count);
    pathPointers.resize(count);
    for (size_t i = 0; i < count; ++i) {
      files[i].structSize = sizeof(KVEExportFileT<Char>);
      files[i].useFileName = 1;
      files[i].fileName = paths[i].c_str();
      filePointers[i] = &files[i];
      pathPointers[i] = paths[i].c_str();
    }
    info.structSize = sizeof info;
    info.fileCount = static_cast<uint16_t>(count);
    info.files = filePointers.data();
    info.language = language;
    request.structSize = sizeof request;
    request.count = static_cast<uint16_t>(count);
    request.paths = pathPointers.data();
  }
  FileRecords(const FileRecords&) = delete;
  FileRecords& operator=(const FileRecords&) = delete;
};

// The module's exports in one character width. Records are built in that
// width from the command line; what comes back is handed on as wide text.
class ExportCalls {
 public:
  virtual ~ExportCalls() = default;

  // The messages that name this width's exports.
  struct Names {
    UINT initializeFailed;
    UINT setupFailed;
    UINT postingFiles;
    UINT exportFailed;
    UINT encodeFailed;
  };
  virtual const Names& names() const = 0;
  virtual bool narrow() const = 0;

  // The options record (none for --choose, block for --options-file, else
  // one over the command line's pieces) and the records of the files at
  // paths. False, with the message written, when a string cannot be given
  // in this width.
  virtual bool Prepare(const HostOptions& options, const std::vector<std::wstring>& paths,
                       const std::vector<BYTE>& block, const Messages& messages, Output& err) = 0;
  virtual int Initialize() = 0;
  virtual int InitExportDestination(KVEJobHandle* job) = 0;
  virtual bool Decode(KVEJobHandle job, SettledDestination& settled) = 0;
  virtual int Export(KVEJobHandle job) = 0;
  // False when the module has no text for the job.
  virtual bool ErrorText(KVEJobHandle job, std::wstring& text) = 0;
  virtual int Encode(KVEJobHandle job, EncodedOptions& encoded) = 0;
  virtual void TermExportDestination(KVEJobHandle job) = 0;
  virtual void Terminate() = 0;
};

// Initialises the module, sets up a job from the destination options (a
// record built from the command line, or a saved block), names each file
// before the one call that posts them all, prints the outcome (the code and
// the module's message on failure), saves the settled options when asked
// and the export succeeded, ends the job and terminates the module.
int RunExport(ExportCalls& calls, const HostOptions& options, const Messages& messages, Output& out, Output& err);

// RunExport through the wide exports.
int ExportFiles(ExportModule& module, const HostOptions& options, const Messages& messages, Output& out, Output& err);
