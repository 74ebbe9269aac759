#include "interface/export_driver.h"

#include <cwchar>

#include "interface/error_text.h"
#include "interface/export_job.h"
#include "interface/module_state.h"
#include "interface/wait_cursor.h"
#include "mapi/folder_resolution.h"
#include "mapi/report_posting.h"
#include "options/report_strings.h"
#include "platform/module_resources.h"
#include "resources/resource_ids.h"
#include "ui/user_prompts.h"

namespace {

constexpr int kMostClassCharacters = kMessageClassCapacity - 1;
constexpr int kMostMessageCharacters = 255;

// The text after the posted name's last ".", empty when it has none.
const wchar_t* ExtensionOf(const wchar_t* postedName) noexcept {
  if (!postedName) return L"";
  const wchar_t* dot = wcsrchr(postedName, L'.');
  return dot ? dot + 1 : L"";
}

// The document class followed by the extension, cut to 255 characters.
void DocumentClass(wchar_t* messageClass, const wchar_t* extension) noexcept {
  CopyWide(messageClass, kMessageClassCapacity, g_ModuleState.documentMessageClass, kMostClassCharacters);
  const size_t used = wcslen(messageClass);
  CopyWide(messageClass + used, kMessageClassCapacity - used, extension, kMessageClassCapacity);
}

// A cut must not leave half of a surrogate pair at the end.
void DropCutSurrogate(wchar_t* text) noexcept {
  const size_t length = wcslen(text);
  if (length > 0 && IsHighSurrogate(text[length - 1])) text[length - 1] = L'\0';
}

// What a report posting carries besides the file; released after each file.
struct ReportTexts {
  ModuleBlock<wchar_t> reportName;
  ModuleBlock<wchar_t> comment;
  ModuleBlock<wchar_t> body;
};

// Asks for file index's report name until it is not taken in the folder,
// then reads the report's texts from the exported file. Returns the
// dialog's answer (IDOK once a name is settled).
int ObtainReportName(const ExportJob& job, IMAPIFolder* folder, uint16_t index, const wchar_t* path,
                     ReportTexts& texts) noexcept {
  for (;;) {
    wchar_t* name = texts.reportName.release();
    const int answer = AskReportName(job.parentWindow, job.fileNames[index], &name, job.language);
    texts.reportName.reset(name);
    if (answer != IDOK) return answer;
    if (!IsDisplayNameUsed(folder, texts.reportName.get())) break;
    ShowReportNameTaken(job.parentWindow, job.language);
  }
  ReadReportStrings(path, texts.comment.put(), texts.body.put());
  return IDOK;
}

}  // namespace

int ExportToDestination(ExportJob* job, const KVEExportRequest* request) {
  WaitCursor waitCursor;
  // A job whose module was terminated has no MAPI left to post with.
  if (!job || !request || job->detached) return KVE_BAD_ARGUMENT;
  // A request for files the job does not know is refused before anything is posted.
  if (request->count > job->fileCount || (request->count > 0 && !request->paths)) return KVE_BAD_ARGUMENT;
  const bool asReport = job->destination.postingKind != ReportInstance && !job->silent;

  MAPIInterface<IMsgStore> store;
  MAPIInterface<IMAPIFolder> folder;
  HRESULT result = S_OK;
  if (job->destination.postingKind == PersonalReport) {
    bool noDefaultStore = false;
    result = OpenPersonalFolder(job->session.get(), folder, &noDefaultStore);
    if (noDefaultStore) {
      MapResult(*job, result);
      // Fallback text the module carries itself.
      SetErrorFromResource(*job, IDS_NO_DEFAULT_STORE,
                           L"The profile has no default message store, so there is no Common Views folder for a "
                           L"personal report.");
      return KVE_FAILED;
    }
  } else {
    result = ResolveFolderPath(job->session.get(), job->destination.folderPath.get(), job->silent, store, folder);
  }
  if (result < 0) return MapResult(*job, result);

  wchar_t messageClass[kMessageClassCapacity];
  CopyWide(messageClass, kMessageClassCapacity,
           asReport ? g_ModuleState.reportMessageClass : g_ModuleState.documentMessageClass, kMostClassCharacters);
  HRESULT firstFailure = S_OK;
  uint16_t firstFailed = 0;
  unsigned failed = 0;
  bool aborted = false;
  for (uint16_t i = 0; i < request->count; ++i) {
    const wchar_t* postedName = job->fileNames[i];
    const wchar_t* extension = ExtensionOf(postedName);
    ReportTexts texts;
    if (asReport) {
      const int answer = ObtainReportName(*job, folder.get(), i, request->paths[i], texts);
      if (answer == IDCANCEL) continue;
      if (answer == IDABORT) {
        aborted = true;
        break;
      }
      // The name dialog had no memory to start: nothing further can be named.
      if (answer == E_OUTOFMEMORY) return MapResult(*job, E_OUTOFMEMORY);
    } else {
      DocumentClass(messageClass, extension);
    }
    PostingRequest posting;
    posting.sourcePath = request->paths[i];
    posting.asReport = asReport;
    posting.postedName = postedName;
    posting.extension = extension;
    posting.messageClass = messageClass;
    posting.reportName = texts.reportName.get();
    posting.commentText = texts.comment.get();
    posting.bodyText = texts.body.get();
    posting.sender = {job->identity.entryId.byteCount, job->identity.entryId.bytes.get(), job->identity.name.get(),
                      job->identity.searchKey.byteCount, job->identity.searchKey.bytes.get()};
    const HRESULT posted = PostReportFile(folder.get(), posting);
    if (posted < 0) {
      // Every file is tried; the first failure is the one reported.
      if (failed++ == 0) {
        firstFailure = posted;
        firstFailed = i;
      }
    }
  }
  folder.reset();
  store.reset();

  if (failed > 0) {
    const int code = MapResult(*job, firstFailure);
    // Out of memory and a full disk name the file too: the host may retry it.
    if (code == KVE_FAILED || code == KVE_NO_MEMORY || code == KVE_DISK_FULL) {
      DescribeFailedPostings(*job, firstFailure, job->fileNames[firstFailed], failed, request->count);
    }
    return code;
  }
  if (aborted) return MapResult(*job, MAPI_E_USER_CANCEL);
  return KVE_OK;
}

void DescribeFailedPostings(ExportJob& job, HRESULT firstFailure, const wchar_t* firstFailedName, unsigned failed,
                            unsigned count) noexcept {
  // The mapping's message, or words for a code it shows only as a number.
  wchar_t message[kErrorTextCapacity];
  if (!DescribeResult(job, firstFailure, message, kErrorTextCapacity)) {
    CopyWide(message, kErrorTextCapacity, job.errorText, kErrorTextCapacity - 1);
  }
  wchar_t name[kQuotedNameLength + 4];
  CopyWide(name, kQuotedNameLength + 1, firstFailedName ? firstFailedName : L"", kQuotedNameLength);
  if (firstFailedName && wcslen(firstFailedName) > kQuotedNameLength) {
    DropCutSurrogate(name);
    wcscat(name, L"...");
  }
  // Fallback texts the module carries itself; a translation must take the same arguments.
  wchar_t format[kMostMessageCharacters + 1];
  if (failed == 1) {
    LoadResourceFormat(IDS_FILE_NOT_POSTED, format, kMostMessageCharacters, LOWORD(job.language),
                       L"The file \"%ls\" was not posted: %ls");
    FormatWide(job.errorText, kErrorTextCapacity, format, name, message);
  } else {
    LoadResourceFormat(IDS_FILES_NOT_POSTED, format, kMostMessageCharacters, LOWORD(job.language),
                       L"%u of %u files were not posted. The first, \"%ls\": %ls");
    FormatWide(job.errorText, kErrorTextCapacity, format, failed, count, name, message);
  }
  DropCutSurrogate(job.errorText);
}
