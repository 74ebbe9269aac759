// The export driver's message that names a failed file, cut to fit the
// error text in every language. (Report exports, with their dialog, run
// through the real module in the dialog tests.)
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "interface/export_driver.h"
#include "interface/export_job.h"
#include "tests/fakes/fake_mapi_fixture.h"

namespace {

struct JobDeleter {
  void operator()(ExportJob* job) const { DestroyExportJob(job); }
};
using JobPtr = std::unique_ptr<ExportJob, JobDeleter>;

// The module's resource set is all these cases need of the fixture.
using ExportDriverTest = kvfake::FakeMapiTest;

TEST_F(ExportDriverTest, TheFailureMessageNamesTheFileAndFitsTheErrorText) {
  const std::wstring longName = std::wstring(99, L'n') + L"\U0001F600" + L"tail.pdf";  // a pair across the cut
  const std::wstring cutName = std::wstring(99, L'n') + L"...";
  struct Case {
    DWORD language;
    std::wstring name;
    unsigned failed, count;
    std::wstring text;
  } cases[] = {
      {0x0409, L"b.txt", 1, 1, L"The file \"b.txt\" was not posted: MAPI object not found."},
      {0x0409, L"b.txt", 2, 5, L"2 of 5 files were not posted. The first, \"b.txt\": MAPI object not found."},
      {0x0407, L"b.txt", 3, 4,
       L"3 von 4 Dateien wurden nicht bereitgestellt. Die erste, \u201Eb.txt\u201C: MAPI object not found."},
      {0x0409, longName, 1, 1, L"The file \"" + cutName + L"\" was not posted: MAPI object not found."},
      // The Dutch test set lacks the string: the module's own English text.
      {0x0413, L"b.txt", 1, 1, L"The file \"b.txt\" was not posted: MAPI object not found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.language) + " " + std::to_string(c.failed));
    JobPtr job(CreateExportJob(nullptr));
    job->language = c.language;
    CopyWide(job->errorText, kErrorTextCapacity, L"MAPI object not found.", 299);
    DescribeFailedPostings(*job, MAPI_E_NOT_FOUND, c.name.c_str(), c.failed, c.count);
    EXPECT_EQ(c.text, std::wstring(job->errorText));
  }
  // A message that fills the error text: the result is cut, never overrun.
  JobPtr job(CreateExportJob(nullptr));
  job->language = 0x0407;
  std::wstring message(298, L'm');
  message += L"\U0001F600";
  CopyWide(job->errorText, kErrorTextCapacity, message.c_str(), 299);
  DescribeFailedPostings(*job, MAPI_E_NOT_FOUND, longName.c_str(), 65535, 65535);
  const std::wstring text = job->errorText;
  EXPECT_GE(299u, text.size());
  EXPECT_EQ(0u, text.find(L"65535 von 65535 Dateien"));
  EXPECT_FALSE(text.back() >= 0xD800 && text.back() <= 0xDBFF) << "no half of a surrogate pair at the end";
}

}  // namespace
