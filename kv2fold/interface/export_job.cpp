#include "interface/export_job.h"

#include <cstddef>
#include <cwchar>
#include <new>

#include "interface/error_text.h"
#include "interface/wait_cursor.h"
#include "mapi/mapi_binding.h"
#include "mapi/session_logon.h"
#include "options/options_encoding.h"
#include "options/options_record.h"
#include "platform/job_handles.h"
#include "resources/resource_ids.h"
#include "ui/user_prompts.h"

namespace {

// Host records hold at least this much to be read at all: up to the files.
constexpr size_t kSmallestExportInfo = offsetof(KVEExportInfo, files) + sizeof(KVEExportInfo::files);

// Destroys a job on every path that does not hand it to the host.
class JobOwner {
 public:
  explicit JobOwner(ExportJob* job) noexcept : job_(job) {}
  ~JobOwner() { DestroyExportJob(job_); }
  JobOwner(const JobOwner&) = delete;
  JobOwner& operator=(const JobOwner&) = delete;
  ExportJob* get() const noexcept { return job_; }
  ExportJob* release() noexcept {
    ExportJob* job = job_;
    job_ = nullptr;
    return job;
  }

 private:
  ExportJob* job_;
};

// A piece of a path: [begin, begin + length).
struct TextSpan {
  const wchar_t* begin = L"";
  size_t length = 0;

  bool HasWildcard() const noexcept {
    for (size_t i = 0; i < length; ++i) {
      if (begin[i] == L'*' || begin[i] == L'?') return true;
    }
    return false;
  }
};

// File name and extension of a path, as the system's path splitting sees
// them: the name follows the last '\', '/' or ':', the extension starts at
// the name's last '.' and keeps it. Each is cut to the part limit.
void SplitFileName(const wchar_t* path, TextSpan& name, TextSpan& extension) noexcept {
  const wchar_t* start = path;
  const wchar_t* lastDot = nullptr;
  const wchar_t* end = path;
  for (; *end != L'\0'; ++end) {
    if (*end == L'\\' || *end == L'/' || *end == L':') {
      start = end + 1;
      lastDot = nullptr;
    } else if (*end == L'.') {
      lastDot = end;
    }
  }
  const wchar_t* nameEnd = lastDot ? lastDot : end;
  name.begin = start;
  name.length = static_cast<size_t>(nameEnd - start);
  extension.begin = nameEnd;
  extension.length = static_cast<size_t>(end - nameEnd);
  if (name.length > kPostedNamePartLimit) name.length = kPostedNamePartLimit;
  if (extension.length > kPostedNamePartLimit) extension.length = kPostedNamePartLimit;
}

// Default parts of a posted name; the module carries them itself.
constexpr wchar_t kUntitledName[] = L"untitled";
constexpr wchar_t kUntitledExtension[] = L".txt";

wchar_t* JoinName(const TextSpan& name, const TextSpan& extension) noexcept {
  auto* joined = static_cast<wchar_t*>(ModuleAlloc((name.length + extension.length + 1) * sizeof(wchar_t)));
  if (!joined) return nullptr;
  wmemcpy(joined, name.begin, name.length);
  wmemcpy(joined + name.length, extension.begin, extension.length);
  joined[name.length + extension.length] = L'\0';
  return joined;
}

int SetPostedNames(ExportJob& job, const KVEExportInfo& exportInfo) noexcept {
  job.fileCount = exportInfo.fileCount;
  if (!job.fileNames.Allocate(job.fileCount)) return KVE_NO_MEMORY;
  for (uint16_t i = 0; i < job.fileCount; ++i) {
    // A missing array reads as null entries.
    const KVEExportFile* file = exportInfo.files ? exportInfo.files[i] : nullptr;
    ModuleBlock<wchar_t> name;
    int result = DerivePostedName(file, name);
    if (result != KVE_OK) return result;
    job.fileNames.Set(i, name.release());
  }
  return KVE_OK;
}

// The live jobs, newest first; linked through the jobs themselves, so
// handing out a job cannot fail for want of memory.
ExportJob* g_liveJobs = nullptr;

void AddLiveJob(ExportJob* job) noexcept {
  job->handle = reinterpret_cast<KVEJobHandle>(NewJobHandleValue());
  job->nextLive = g_liveJobs;
  g_liveJobs = job;
}

void RemoveLiveJob(const ExportJob* job) noexcept {
  for (ExportJob** link = &g_liveJobs; *link; link = &(*link)->nextLive) {
    if (*link == job) {
      *link = job->nextLive;
      return;
    }
  }
}

// A -1 from the mapping is replaced by the caller's own message.
int MapWithMessage(ExportJob& job, HRESULT result, UINT messageId, const wchar_t* fallback) noexcept {
  const int code = MapResult(job, result);
  if (code == KVE_FAILED) SetErrorFromResource(job, messageId, fallback);
  return code;
}

}  // namespace

int LogonProfile(ExportJob& job, const wchar_t* profile, const wchar_t* password) noexcept {
  EndSession(job);
  HRESULT result = LogonSession(job.session, job.silent != 0, profile, password);
  if (result < 0) {
    // Fallback text the module carries itself.
    return MapWithMessage(job, result, IDS_LOGON_FAILED, L"Cannot logon to Exchange Profile.");
  }
  result = RetrieveProfileName(job.session.get(), job.destination.profileName, job.identity);
  if (result < 0) {
    // Fallback text the module carries itself.
    return MapWithMessage(job, result, IDS_PROFILE_NAME_FAILED, L"Cannot retrieve Exchange profile name.");
  }
  return KVE_OK;
}

void EndSession(ExportJob& job) noexcept {
  LogoffSession(job.session);
  job.destination.profileName.reset();
  job.identity.Clear();
}

ExportJob* JobOf(KVEJobHandle handle) noexcept {
  if (!handle) return nullptr;
  for (ExportJob* job = g_liveJobs; job; job = job->nextLive) {
    if (job->handle == handle) return job;
  }
  return nullptr;
}

bool AnyLiveJob() noexcept { return g_liveJobs != nullptr; }

void DetachLiveJobs() noexcept {
  for (ExportJob* job = g_liveJobs; job; job = job->nextLive) {
    if (job->detached) continue;
    // What the job settled stays readable; only MAPI goes.
    LogoffSession(job->session);
    job->detached = true;
    if (g_mapiBound) g_MAPIFunctions.MAPIUninitialize();
  }
}

bool PostedNames::Allocate(uint16_t count) noexcept {
  Reset();
  if (count == 0) return true;
  names_ = static_cast<wchar_t**>(ModuleAlloc(count * sizeof(wchar_t*)));  // zero-filled: every slot empty
  if (!names_) return false;
  count_ = count;
  return true;
}

void PostedNames::Reset() noexcept {
  for (uint16_t i = 0; i < count_; ++i) ModuleFree(names_[i]);
  ModuleFree(names_);
  names_ = nullptr;
  count_ = 0;
}

void PostedNames::Set(uint16_t index, wchar_t* name) noexcept {
  ModuleFree(names_[index]);
  names_[index] = name;
}

ExportJob* CreateExportJob(HWND parentWindow) noexcept {
  void* memory = ModuleAlloc(sizeof(ExportJob));
  if (!memory) return nullptr;
  auto* job = new (memory) ExportJob();
  job->parentWindow = parentWindow;
  job->jobRecord.structSize = static_cast<uint16_t>(sizeof(KVEJobRecord));
  return job;
}

void DestroyExportJob(ExportJob* job) noexcept {
  if (!job) return;
  EndSession(*job);
  job->~ExportJob();
  ModuleFree(job);
}

DWORD ExportLanguage(const KVEExportInfo& exportInfo) noexcept {
  // Read only when the record's size covers the whole field.
  if (exportInfo.structSize >= offsetof(KVEExportInfo, language) + sizeof(exportInfo.language)) {
    return exportInfo.language;
  }
  return LANG_USER_DEFAULT;
}

int DerivePostedName(const KVEExportFile* file, ModuleBlock<wchar_t>& name) noexcept {
  TextSpan base{kUntitledName, wcslen(kUntitledName)};
  TextSpan extension{kUntitledExtension, wcslen(kUntitledExtension)};
  if (file && file->useFileName) {
    if (file->fileName) {
      SplitFileName(file->fileName, base, extension);
    } else {
      base = TextSpan{};
      extension = TextSpan{};
    }
  } else if (file && file->fileNamePattern) {
    TextSpan patternName;
    TextSpan patternExtension;
    SplitFileName(file->fileNamePattern, patternName, patternExtension);
    if (patternName.length != 0 && !patternName.HasWildcard()) base = patternName;
    if (patternExtension.length != 0 && !patternExtension.HasWildcard()) extension = patternExtension;
  }
  name.reset(JoinName(base, extension));
  return name ? KVE_OK : KVE_NO_MEMORY;
}

bool HasReportFile(const PostedNames& names) noexcept {
  for (uint16_t i = 0; i < names.count(); ++i) {
    const wchar_t* dot = names[i] ? wcsrchr(names[i], L'.') : nullptr;
    if (dot && _wcsicmp(dot + 1, L"RPT") == 0) return true;
  }
  return false;
}

int SetUpByDialog(ExportJob& job) noexcept {
  DestinationSettings& destination = job.destination;
  job.silent = 0;
  destination.postingKind = ReportInstance;
  const bool reportFile = HasReportFile(job.fileNames);
  int result = LogonProfile(job, nullptr, nullptr);
  if (result != KVE_OK) return result;
  // A report file may go as a report template: the user says which kind.
  if (reportFile) {
    result = AskPostingKind(job.parentWindow, job.language, destination.postingKind);
    if (result != KVE_OK) return result;
  }
  if (destination.postingKind == PersonalReport) {
    destination.folderPath.reset();
    return KVE_OK;
  }
  if (destination.postingKind != FolderReport && destination.postingKind != ReportInstance) return KVE_CANCELLED;
  return ChooseFolderPath(job.parentWindow, job.session.get(), destination.profileName.get(), job.language,
                          destination.folderPath);
}

int SetUpFromOptions(ExportJob& job, const KVEDestinationOptions* options) noexcept {
  DestinationOptionsCopy<wchar_t> copy;
  int result = ReadDestinationOptions(options, copy);
  if (result != KVE_OK) return result;
  job.silent = 1;
  DestinationSettings& destination = job.destination;
  result = copy.blockLayout ? ApplyOptionsBlock(destination, copy) : ApplyOptionsRecord(destination, copy);
  if (result != KVE_OK) return result;
  // A kind the module does not know would post somewhere no one asked for.
  if (destination.postingKind != PersonalReport && destination.postingKind != FolderReport &&
      destination.postingKind != ReportInstance) {
    return KVE_BAD_ARGUMENT;
  }
  // An empty profile name names no profile, like an absent one: neither may
  // fall back on MAPI's default profile behind the host's back.
  if (!destination.profileName || destination.profileName.get()[0] == L'\0') return KVE_NO_MEMORY;
  // The logon frees the job's profile name first: it gets a copy.
  ModuleBlock<wchar_t> profile(ModuleDupWide(destination.profileName.get()));
  if (!profile) return KVE_NO_MEMORY;
  return LogonProfile(job, profile.get(), destination.password.get());
}

int InitExportDestination(HWND parentWindow, const KVEDestinationOptions* options, const KVEExportInfo* exportInfo,
                          KVEJobHandle* outJob, KVEJobRecord** outJobRecord) {
  // Without KVEInitializeW there is no MAPI to initialise.
  if (!g_mapiBound) return KVE_FAILED;
  if (g_MAPIFunctions.MAPIInitialize(nullptr) < 0) return KVE_FAILED;
  // From here on MAPI is initialised once; KVETermExportDestinationW, with
  // the job or with null, balances it whatever this call answers.
  WaitCursor waitCursor;
  if (!outJob) return KVE_BAD_ARGUMENT;
  *outJob = nullptr;
  if (outJobRecord) *outJobRecord = nullptr;
  if (!exportInfo || exportInfo->structSize < kSmallestExportInfo) return KVE_BAD_ARGUMENT;

  JobOwner job(CreateExportJob(parentWindow));
  if (!job.get()) return KVE_NO_MEMORY;
  job.get()->language = ExportLanguage(*exportInfo);
  int result = SetPostedNames(*job.get(), *exportInfo);
  if (result == KVE_OK) result = options ? SetUpFromOptions(*job.get(), options) : SetUpByDialog(*job.get());
  if (result != KVE_OK) return result;

  if (outJobRecord) *outJobRecord = &job.get()->jobRecord;
  AddLiveJob(job.get());
  *outJob = job.release()->handle;
  return KVE_OK;
}

int TermExportDestination(KVEJobHandle handle) {
  ExportJob* job = JobOf(handle);
  // A stale or made-up handle: nothing to destroy and no MAPIInitialize of
  // its own to balance.
  if (handle && !job) return KVE_BAD_ARGUMENT;
  const bool balanceMapi = !job || !job->detached;
  {
    WaitCursor waitCursor;
    RemoveLiveJob(job);
    DestroyExportJob(job);
  }
  if (balanceMapi && g_mapiBound) g_MAPIFunctions.MAPIUninitialize();
  return KVE_OK;
}
