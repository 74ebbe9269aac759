#include "ansi/ansi_job.h"

#include <new>

#include "ansi/ansi_layer.h"
#include "platform/job_handles.h"

namespace {

const WideEntryTable& Wide() noexcept { return g_AnsiLayer.wideEntries; }

void FreeThroughWide(DWORD hostValue, KVEDestinationOptions* record) noexcept {
  Wide().KVEFreeDestinationOptionsW(hostValue, record);
}
void FreeThroughWide(DWORD hostValue, KVEDestinationOptionsA* record) noexcept {
  if (Wide().KVEFreeDestinationOptionsA) Wide().KVEFreeDestinationOptionsA(hostValue, record);
}

// An options record the wide side made, released through its free entry
// with the job's host value.
template <typename Record>
class OptionsRecordOwner {
 public:
  explicit OptionsRecordOwner(DWORD hostValue) noexcept : hostValue_(hostValue) {}
  ~OptionsRecordOwner() { reset(); }
  OptionsRecordOwner(const OptionsRecordOwner&) = delete;
  OptionsRecordOwner& operator=(const OptionsRecordOwner&) = delete;

  Record* get() const noexcept { return record_; }
  Record** put() noexcept {
    reset();
    return &record_;
  }
  Record* release() noexcept {
    Record* record = record_;
    record_ = nullptr;
    return record;
  }
  void reset() noexcept {
    if (record_) FreeThroughWide(hostValue_, record_);
    record_ = nullptr;
  }

 private:
  DWORD hostValue_;
  Record* record_ = nullptr;
};

struct AnsiJobDelete {
  void operator()(AnsiExportJob* job) const noexcept {
    job->~AnsiExportJob();
    ModuleFree(job);
  }
};
using AnsiJobOwner = kvcommon::UniquePointer<AnsiExportJob, AnsiJobDelete>;

// The live narrow jobs, newest first, linked through the jobs themselves.
AnsiExportJob* g_liveAnsiJobs = nullptr;

AnsiExportJob* AnsiJobOf(KVEJobHandle handle) noexcept {
  if (!handle) return nullptr;
  for (AnsiExportJob* job = g_liveAnsiJobs; job; job = job->nextLive) {
    if (job->handle == handle) return job;
  }
  return nullptr;
}

void AddLiveAnsiJob(AnsiExportJob* job) noexcept {
  job->handle = reinterpret_cast<KVEJobHandle>(NewJobHandleValue());
  job->nextLive = g_liveAnsiJobs;
  g_liveAnsiJobs = job;
}

void RemoveLiveAnsiJob(const AnsiExportJob* job) noexcept {
  for (AnsiExportJob** link = &g_liveAnsiJobs; *link; link = &(*link)->nextLive) {
    if (*link == job) {
      *link = job->nextLive;
      return;
    }
  }
}

bool SamePointer(const void* a, const void* b) noexcept { return a == b; }

// A setup refused before the wide call left MAPI as it was, so the
// KVETermExportDestination(null) a host sends after any failed setup has
// nothing to balance; after a wide call it balances the wide setup's MAPI.
bool g_setupRefusedBeforeWideCall = false;

}  // namespace

void AnsiExportJob::ReleaseNarrowResults() noexcept {
  narrowJobRecord.reset();
  narrowErrorText.reset();
  ReleaseNarrowBlock();
}

void AnsiExportJob::ReleaseNarrowBlock() noexcept {
  if (narrowBlock) FreeThroughWide(hostValue, narrowBlock);
  narrowBlock = nullptr;
}

int AnsiInitExportDestination(HWND parentWindow, DWORD hostValue, const KVEDestinationOptionsA* options,
                              const KVEExportInfoA* exportInfo, KVEJobHandle* outJob,
                              KVEJobRecordA** outJobRecord) noexcept {
  g_setupRefusedBeforeWideCall = true;
  // Whatever this call answers, the host's outputs hold no stale values.
  if (outJob) *outJob = nullptr;
  if (outJobRecord) *outJobRecord = nullptr;
  void* memory = ModuleAlloc(sizeof(AnsiExportJob));
  if (!memory) return KVE_NO_MEMORY;
  AnsiJobOwner job(new (memory) AnsiExportJob());
  job->hostValue = hostValue;
  // The record is made now: once the wide job exists nothing may fail.
  job->narrowJobRecord.reset(static_cast<KVEJobRecordA*>(ModuleAlloc(sizeof(KVEJobRecordA))));
  if (!job->narrowJobRecord) return KVE_NO_MEMORY;

  const WideEntryTable& wide = Wide();
  OptionsRecordOwner<KVEDestinationOptions> wideOptions(hostValue);
  const KVEDestinationOptions* optionsForWide = reinterpret_cast<const KVEDestinationOptions*>(options);
  if (options && wide.KVEDestinationOptionsA2W) {
    int result = wide.KVEDestinationOptionsA2W(options, wideOptions.put(), nullptr);
    if (result != KVE_OK) return result;
    optionsForWide = wideOptions.get();
  }
  WideExportInfoCopy wideInfo;
  if (!WidenExportInfo(exportInfo, g_AnsiLayer.ansiCodePage, wideInfo)) return KVE_NO_MEMORY;

  g_setupRefusedBeforeWideCall = false;
  KVEJobRecord* wideRecord = nullptr;
  // Without an out job the wide side answers the host's mistake itself.
  int result = wide.KVEInitExportDestinationW(parentWindow, hostValue, optionsForWide, wideInfo.get(),
                                              outJob ? &job->wideJob : nullptr, &wideRecord);
  wideInfo.reset();
  wideOptions.reset();
  if (result != KVE_OK) {
    if (outJob) *outJob = nullptr;
    if (outJobRecord) *outJobRecord = nullptr;
    return result;
  }
  if (wideRecord) FillNarrowJobRecord(*wideRecord, g_AnsiLayer.ansiCodePage, *job->narrowJobRecord.get());
  if (outJobRecord) *outJobRecord = wideRecord ? job->narrowJobRecord.get() : nullptr;
  AddLiveAnsiJob(job.get());
  *outJob = job.release()->handle;
  return KVE_OK;
}

int AnsiTermExportDestination(KVEJobHandle job, DWORD value) noexcept {
  if (!job) {
    if (g_setupRefusedBeforeWideCall) {
      g_setupRefusedBeforeWideCall = false;
      return KVE_OK;
    }
    return Wide().KVETermExportDestinationW(nullptr, value);
  }
  AnsiExportJob* ansiJob = AnsiJobOf(job);
  // No live narrow job: nothing to end, and no MAPIInitialize of its own to balance.
  if (!ansiJob) return KVE_BAD_ARGUMENT;
  RemoveLiveAnsiJob(ansiJob);
  // Released after the wide job has ended.
  AnsiJobOwner owner(ansiJob);
  return Wide().KVETermExportDestinationW(owner->wideJob, value);
}

int AnsiExportToDestination(KVEJobHandle job, const KVEExportRequestA* request) noexcept {
  AnsiExportJob* ansiJob = AnsiJobOf(job);
  if (!ansiJob) return KVE_BAD_ARGUMENT;
  WideExportRequestCopy wideRequest;
  // Nothing is posted from a request that could only be passed on in part.
  if (!WidenExportRequest(request, g_AnsiLayer.ansiCodePage, wideRequest)) return KVE_NO_MEMORY;
  // A null request reaches the wide side as null, which refuses it.
  return Wide().KVEExportToDestinationW(ansiJob->wideJob, wideRequest.get());
}

const char* AnsiGetErrorText(KVEJobHandle job) noexcept {
  AnsiExportJob* found = AnsiJobOf(job);
  if (!found) return nullptr;
  AnsiExportJob& ansiJob = *found;
  ansiJob.narrowErrorText.reset();
  ansiJob.narrowErrorText =
      NarrowText(Wide().KVEGetErrorTextW(ansiJob.wideJob), g_AnsiLayer.ansiCodePage);
  return ansiJob.narrowErrorText.get();
}

int AnsiEncodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outBlock, WORD* outSize) noexcept {
  AnsiExportJob* found = AnsiJobOf(job);
  if (!found || !outBlock) return KVE_BAD_ARGUMENT;
  AnsiExportJob& ansiJob = *found;
  const WideEntryTable& wide = Wide();
  *outBlock = nullptr;
  KVEDestinationOptions* wideBlock = nullptr;  // the wide job's own
  WORD wideSize = 0;
  const int result = wide.KVEEncodeDestinationOptionsW(ansiJob.wideJob, &wideBlock, &wideSize);
  if (!wideBlock || !wide.KVEDestinationOptionsW2A) {
    *outBlock = reinterpret_cast<KVEDestinationOptionsA*>(wideBlock);
    if (outSize) *outSize = wideSize;
    return result;
  }
  ansiJob.ReleaseNarrowBlock();
  const int conversion = wide.KVEDestinationOptionsW2A(wideBlock, &ansiJob.narrowBlock, outSize);
  if (conversion == KVE_OK) *outBlock = ansiJob.narrowBlock;
  // Never free a block the wide job owns.
  if (SamePointer(ansiJob.narrowBlock, wideBlock)) ansiJob.narrowBlock = nullptr;
  return result != KVE_OK ? result : conversion;
}

int AnsiDecodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outRecord) noexcept {
  AnsiExportJob* found = AnsiJobOf(job);
  if (!found || !outRecord) return KVE_BAD_ARGUMENT;
  AnsiExportJob& ansiJob = *found;
  const WideEntryTable& wide = Wide();
  *outRecord = nullptr;
  OptionsRecordOwner<KVEDestinationOptions> wideRecord(ansiJob.hostValue);
  const int result = wide.KVEDecodeDestinationOptionsW(ansiJob.wideJob, wideRecord.put());
  if (!wideRecord.get() || !wide.KVEDestinationOptionsW2A) {
    *outRecord = reinterpret_cast<KVEDestinationOptionsA*>(wideRecord.release());
    return result;
  }
  KVEDestinationOptionsA* narrow = nullptr;
  WORD size = 0;
  const int conversion = wide.KVEDestinationOptionsW2A(wideRecord.get(), &narrow, &size);
  if (conversion == KVE_OK) *outRecord = narrow;
  if (SamePointer(narrow, wideRecord.get())) wideRecord.release();
  return result != KVE_OK ? result : conversion;
}
