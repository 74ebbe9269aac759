// One export of one report: the job the host holds as an opaque handle from
// KVEInitExportDestinationW to KVETermExportDestinationW, and the setup that
// settles its destination from a host options record or from the user.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>

#include "interface/kve_api.h"
#include "mapi/mapi_owners.h"
#include "mapi/session_logon.h"
#include "options/destination_settings.h"
#include "platform/wide_text.h"

// Characters of the error text, terminator included.
constexpr size_t kErrorTextCapacity = 300;
// Most characters of each part (file name, extension) of a posted name.
constexpr size_t kPostedNamePartLimit = 260;

// The names under which the exported files are posted, one heap string each.
class PostedNames {
 public:
  PostedNames() noexcept = default;
  ~PostedNames() { Reset(); }
  PostedNames(const PostedNames&) = delete;
  PostedNames& operator=(const PostedNames&) = delete;

  // count empty slots; false when memory runs out.
  bool Allocate(uint16_t count) noexcept;
  void Reset() noexcept;
  uint16_t count() const noexcept { return count_; }
  const wchar_t* operator[](uint16_t index) const noexcept { return names_[index]; }
  // Takes ownership of name.
  void Set(uint16_t index, wchar_t* name) noexcept;

 private:
  wchar_t** names_ = nullptr;
  uint16_t count_ = 0;
};

struct ExportJob {
  MAPIInterface<IMAPISession> session;  // null until logon succeeds
  HWND parentWindow = nullptr;          // owner of the module's dialogs
  uint32_t silent = 0;                  // 1: destination from a host options record
  KVEJobRecord jobRecord = {};          // handed to the host beside the job
  uint16_t fileCount = 0;
  PostedNames fileNames;
  DestinationSettings destination;
  SessionIdentity identity;  // after logon: the sender of every posting
  wchar_t errorText[kErrorTextCapacity] = {};
  ModuleBlock<KVEDestinationOptions> encodedOptions;  // the last encoded block
  uint32_t language = 0;

  // Bookkeeping of the jobs handed to the host: the handle it holds (a
  // number of its own, never the job's address) and the next live job.
  KVEJobHandle handle = nullptr;
  ExportJob* nextLive = nullptr;
  // The module was terminated under the job: its session ended and MAPI let
  // go, so it can no longer export.
  bool detached = false;
};

// The host's handle is a number given to the job when it is handed out
// (platform/job_handles.h) and taken only while the job is live: a stale,
// made-up or narrow handle finds no job and is never used as a pointer.
// The live job of a handle, or null.
ExportJob* JobOf(KVEJobHandle handle) noexcept;
// Whether any job is live.
bool AnyLiveJob() noexcept;
// Run by the last KVETerminateW while MAPI is still bound: every live job's
// session ends and its MAPIInitialize is balanced, so nothing calls into a
// MAPI library that is about to be unloaded. The jobs stay live for their
// texts, options and destruction.
void DetachLiveJobs() noexcept;

// A job with parentWindow set, every other field empty and jobRecord
// zeroed but for its size; null when memory runs out.
ExportJob* CreateExportJob(HWND parentWindow) noexcept;
// Ends the session and releases everything the job holds, then the job.
// Null is allowed.
void DestroyExportJob(ExportJob* job) noexcept;

// The job's language: exportInfo's own when its structSize holds the field,
// else the user's default (0x0400).
DWORD ExportLanguage(const KVEExportInfo& exportInfo) noexcept;

// The name under which one exported file is posted; a null file gives
// "untitled.txt". Returns 0, or 2 when memory runs out.
int DerivePostedName(const KVEExportFile* file, ModuleBlock<wchar_t>& name) noexcept;

// True when a posted name has the extension "RPT" (any case).
bool HasReportFile(const PostedNames& names) noexcept;

// Ends any earlier session, logs on to profile (null: MAPI chooses, with its
// dialog if the job is not silent) and learns the profile name and identity.
// Returns a result code; a -1 leaves "Cannot logon to Exchange Profile." or
// "Cannot retrieve Exchange profile name." in the job's language.
int LogonProfile(ExportJob& job, const wchar_t* profile, const wchar_t* password) noexcept;

// Logs off and releases the session; frees the profile name and identity.
void EndSession(ExportJob& job) noexcept;

// Settles the destination with the user (logon with MAPI's dialog allowed;
// for a report file the posting kind dialog; then, unless the kind is
// PersonalReport, the folder selection dialog) or from the host's record.
// Return a result code (6 when the user cancelled a dialog); a failure's
// message is in the job's error text.
int SetUpByDialog(ExportJob& job) noexcept;
int SetUpFromOptions(ExportJob& job, const KVEDestinationOptions* options) noexcept;

// KVEInitExportDestinationW and KVETermExportDestinationW.
int InitExportDestination(HWND parentWindow, const KVEDestinationOptions* options, const KVEExportInfo* exportInfo,
                          KVEJobHandle* outJob, KVEJobRecord** outJobRecord);
int TermExportDestination(KVEJobHandle job);
