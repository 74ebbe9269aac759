// MAPI results as the host sees them: the code, and the message left in the
// job's error text, in English, in German and in a test language whose set
// lacks strings 13 and 14 (the module's own fallback texts stand in); and the
// export driver's message that names a failed file, cut to fit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "interface/error_text.h"
#include "interface/export_driver.h"
#include "interface/export_job.h"
#include "kvtest/environment.h"
#include "platform/locale_library.h"
#include "platform/module_resources.h"

namespace {

using kvtest::Text;

class ErrorTextTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ModuleResources.moduleInstance = GetModuleHandleW(nullptr);
    g_ModuleResources.localeHandle = OpenModuleResources(g_ModuleResources.moduleInstance);
    job_ = CreateExportJob(nullptr);
    ASSERT_NE(nullptr, job_);
  }
  void TearDown() override {
    DestroyExportJob(job_);
    CloseModuleResources(g_ModuleResources.localeHandle);
    g_ModuleResources.localeHandle = 0;
  }
  ExportJob* job_ = nullptr;
};

TEST_F(ErrorTextTest, MapResultInEveryLanguage) {
  const wchar_t* const kUnchanged = nullptr;
  const wchar_t* const kNoAccess = L"No access right to post file to Exchange Folders.";
  const wchar_t* const kNotFound = L"MAPI object not found.";
  const wchar_t* const kNoSupport = L"Such posting is not supported by the Message Service Provider.";
  struct Case {
    HRESULT result;
    int code;
    const wchar_t* english;
    const wchar_t* german;
    const wchar_t* dutch;  // the test set lacks strings 13 and 14
  } cases[] = {
      {S_OK, KVE_OK, kUnchanged, kUnchanged, kUnchanged},
      {E_ABORT, KVE_CANCELLED, kUnchanged, kUnchanged, kUnchanged},
      {MAPI_E_USER_CANCEL, KVE_CANCELLED, kUnchanged, kUnchanged, kUnchanged},
      {MAPI_E_CANCEL, KVE_CANCELLED, kUnchanged, kUnchanged, kUnchanged},
      {MAPI_E_NOT_ENOUGH_MEMORY, KVE_NO_MEMORY, kUnchanged, kUnchanged, kUnchanged},
      {MAPI_E_NOT_ENOUGH_DISK, KVE_DISK_FULL, kUnchanged, kUnchanged, kUnchanged},
      {MAPI_E_CALL_FAILED, KVE_FAILED, L"MAPI_E_CALL_FAILED", L"MAPI_E_CALL_FAILED", L"MAPI_E_CALL_FAILED"},
      {MAPI_E_CORRUPT_DATA, KVE_FAILED, L"MAPI_E_CORRUPT_DATA", L"MAPI_E_CORRUPT_DATA", L"MAPI_E_CORRUPT_DATA"},
      {MAPI_E_FAILONEPROVIDER, KVE_FAILED, L"MAPI Error: Fail on provider.", L"MAPI Error: Fail on provider.",
       L"MAPI Error: Fail on provider."},
      {MAPI_E_INVALID_PARAMETER, KVE_FAILED, L"MAPI_E_INVALID_PARAMETER", L"MAPI_E_INVALID_PARAMETER",
       L"MAPI_E_INVALID_PARAMETER"},
      {MAPI_E_NO_ACCESS, KVE_FAILED, kNoAccess,
       L"Keine Zugriffsberechtigung zum Bereitstellen von Dateien in Exchange-Ordnern.", kNoAccess},
      {MAPI_E_NOT_FOUND, KVE_FAILED, kNotFound, L"MAPI-Objekt nicht gefunden.", kNotFound},
      {MAPI_E_NO_SUPPORT, KVE_FAILED, kNoSupport,
       L"Diese Art der Bereitstellung wird vom Nachrichtendienstanbieter nicht unterst\u00fctzt.",
       L"Dit soort plaatsing wordt niet ondersteund door de berichtenserviceprovider."},
      {MAPI_E_EXTENDED_ERROR, KVE_FAILED, L"Error code 0x80040119 returned.", L"Error code 0x80040119 returned.",
       L"Error code 0x80040119 returned."},
      {MAPI_E_LOGON_FAILED, KVE_FAILED, L"Error code 0x80040111 returned.", L"Error code 0x80040111 returned.",
       L"Error code 0x80040111 returned."},
      // Codes with words of their own keep the code beside them.
      {MAPI_E_NETWORK_ERROR, KVE_FAILED,
       L"The message store's server could not be reached, or the connection to it was lost. (0x80040115)",
       L"Der Server des Nachrichtenspeichers war nicht erreichbar, oder die Verbindung zu ihm brach ab. (0x80040115)",
       L"The message store's server could not be reached, or the connection to it was lost. (0x80040115)"},
      {static_cast<HRESULT>(0x8000FFFF), KVE_FAILED, L"Error code 0x8000FFFF returned.",
       L"Error code 0x8000FFFF returned.", L"Error code 0x8000FFFF returned."},
  };
  // The language's high word (a sort order) does not matter.
  const struct {
    DWORD language;
    const wchar_t* Case::*text;
  } languages[] = {{0x0409, &Case::english}, {0x00010407, &Case::german}, {0x0413, &Case::dutch}};
  for (const auto& language : languages) {
    for (const Case& c : cases) {
      SCOPED_TRACE("language " + std::to_string(language.language) + ", result " +
                   std::to_string(static_cast<unsigned long>(c.result)));
      job_->language = language.language;
      CopyWide(job_->errorText, kErrorTextCapacity, L"the previous message", 299);
      EXPECT_EQ(c.code, MapResult(*job_, c.result));
      const wchar_t* expected = c.*language.text;
      EXPECT_EQ(Text(expected ? expected : L"the previous message"), Text(job_->errorText));
    }
  }
}

TEST_F(ErrorTextTest, TheFailureMessageNamesTheFileAndFitsTheErrorText) {
  const std::wstring longName = std::wstring(99, L'n') + L"\U0001F600" + L"tail.pdf";  // a pair across the cut
  const std::wstring cutName = std::wstring(99, L'n') + L"...";
  struct Case {
    DWORD language;
    std::wstring name;
    unsigned failed, count;
    std::wstring text;
  } cases[] = {
      {0x0409, L"b.txt", 1, 3, L"The file \"b.txt\" was not posted: MAPI object not found."},  // one of three
      {0x0409, L"b.txt", 2, 5, L"2 of 5 files were not posted. The first, \"b.txt\": MAPI object not found."},
      {0x0407, L"b.txt", 3, 4,
       L"3 von 4 Dateien wurden nicht bereitgestellt. Die erste, \u201Eb.txt\u201C: MAPI object not found."},
      {0x0409, longName, 1, 1, L"The file \"" + cutName + L"\" was not posted: MAPI object not found."},
      // The Dutch test set lacks the string: the module's own English text.
      {0x0413, L"b.txt", 1, 1, L"The file \"b.txt\" was not posted: MAPI object not found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.language) + " " + std::to_string(c.failed));
    job_->language = c.language;
    CopyWide(job_->errorText, kErrorTextCapacity, L"MAPI object not found.", 299);
    DescribeFailedPostings(*job_, MAPI_E_NOT_FOUND, c.name.c_str(), c.failed, c.count);
    EXPECT_EQ(c.text, std::wstring(job_->errorText));
  }
  // A message that fills the error text: the result is cut, never overrun.
  job_->language = 0x0407;
  std::wstring message(298, L'm');
  message += L"\U0001F600";
  CopyWide(job_->errorText, kErrorTextCapacity, message.c_str(), 299);
  DescribeFailedPostings(*job_, MAPI_E_NOT_FOUND, longName.c_str(), 65535, 65535);
  const std::wstring text = job_->errorText;
  EXPECT_GE(299u, text.size());
  EXPECT_EQ(0u, text.find(L"65535 von 65535 Dateien"));
  EXPECT_FALSE(text.back() >= 0xD800 && text.back() <= 0xDBFF) << "no half of a surrogate pair at the end";
}

}  // namespace
