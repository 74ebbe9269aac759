// KVEExportToDestinationW: the folder the job's setup settled is opened once,
// then every exported file is posted into it as a message with the file
// attached. Every file is tried; the host learns of the first file that
// failed (its code, and a message naming it and counting the failures).
#pragma once

#include <windows.h>

#include "interface/kve_api.h"

struct ExportJob;

// Posts the request's files. Returns 0 when every file was posted; 5 for a
// null job or request, or a request with more files than the job (nothing
// is posted then); else the code of the folder's opening or of the first
// file that failed, with the message in the job's error text.
int ExportToDestination(ExportJob* job, const KVEExportRequest* request);

// Most characters of a file's name that a failure message quotes; a longer
// name is cut and ends in "...".
constexpr size_t kQuotedNameLength = 100;

// The error text after failed postings: why the first failure happened (the
// mapping's message already in the job's error text, or words for a code it
// shows only as a number) with that file's posted name, and how many of count
// files failed when more than one did.
void DescribeFailedPostings(ExportJob& job, HRESULT firstFailure, const wchar_t* firstFailedName, unsigned failed,
                            unsigned count) noexcept;
