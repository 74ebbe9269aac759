// The host interface of KV2FOLD.dll: records, codes and wide exports.
// Records are byte-packed and their offsets are part of the interface; the
// 32-bit offsets are the reference, the 64-bit build keeps the field order
// with 8-byte pointers. Both layouts are checked at compile time below.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)

// Entry of the destination list.
template <typename Char>
struct KVEDestinationEntryT {
  uint16_t structSize;
  Char* name;
  uint32_t reserved;
  Char* description;
};

// The destination list offered to the host; owned by the module.
template <typename Char>
struct KVEDestinationListT {
  uint16_t structSize;
  uint16_t count;
  KVEDestinationEntryT<Char>** entries;
  char identifier[8];  // "qfold", zero-padded
};

// One exported file, as the host describes it at job creation.
template <typename Char>
struct KVEExportFileT {
  uint16_t structSize;
  uint32_t useFileName;
  const Char* fileName;
  const Char* hostString1;
  const Char* hostString2;
  const Char* hostString3;
  const Char* hostString4;
  const Char* fileNamePattern;
  const Char* hostString5;
};

// The host's description of an export.
template <typename Char>
struct KVEExportInfoT {
  uint16_t structSize;
  uint32_t hostField1;
  uint32_t hostField2;
  uint16_t fileCount;
  KVEExportFileT<Char>** files;
  const Char* hostString1;
  const Char* hostString2;
  const Char* hostString3;
  uint32_t hostField3;
  uint32_t language;  // read only when structSize reaches past it
  uint32_t hostField4;
};

// The record handed back beside the job handle.
template <typename Char>
struct KVEJobRecordT {
  uint16_t structSize;
  uint32_t hostField1;
  uint32_t hostField2;
  uint32_t hostField3;
  uint32_t hostField4;
  uint32_t hostField5;
  uint16_t count;
  Char** strings;
  uint32_t hostField6;
  uint32_t hostField7;
  uint32_t hostField8;
  uint32_t hostField9;
  uint32_t hostField10;
  uint32_t hostField11;
};

// The list of exported file paths given to the export call.
template <typename Char>
struct KVEExportRequestT {
  uint16_t structSize;
  uint16_t count;
  const Char* const* paths;
  uint32_t hostField1;
  uint32_t hostField2;
  uint32_t hostField3;
  uint32_t hostField4;
  uint32_t hostField5;
  uint32_t hostField6;
};

// A string of an options record: an address in the pointer layout, a byte
// offset from the record's first byte in the block layout; 0 means absent.
template <typename Char>
union KVEStringFieldT {
  const Char* pointer;
  uintptr_t offset;
};

// The destination options record (both layouts, both character forms).
template <typename Char>
struct KVEDestinationOptionsT {
  uint16_t structSize;
  KVEStringFieldT<Char> profileName;
  KVEStringFieldT<Char> password;
  uint16_t postingKind;
  KVEStringFieldT<Char> folderPath;
  uint16_t blockSize;  // 0: pointer layout; else record plus strings, in bytes
};

// The block layout as a 32-bit process writes it. The 64-bit build reads such
// blocks too, so options persisted by a 32-bit host keep working.
struct KVEDestinationOptionsBlock32 {
  uint16_t structSize;
  uint32_t profileName;
  uint32_t password;
  uint16_t postingKind;
  uint32_t folderPath;
  uint16_t blockSize;
};

#pragma pack(pop)

using KVEDestinationEntry = KVEDestinationEntryT<wchar_t>;
using KVEDestinationEntryA = KVEDestinationEntryT<char>;
using KVEDestinationList = KVEDestinationListT<wchar_t>;
using KVEDestinationListA = KVEDestinationListT<char>;
using KVEExportFile = KVEExportFileT<wchar_t>;
using KVEExportFileA = KVEExportFileT<char>;
using KVEExportInfo = KVEExportInfoT<wchar_t>;
using KVEExportInfoA = KVEExportInfoT<char>;
using KVEJobRecord = KVEJobRecordT<wchar_t>;
using KVEJobRecordA = KVEJobRecordT<char>;
using KVEExportRequest = KVEExportRequestT<wchar_t>;
using KVEExportRequestA = KVEExportRequestT<char>;
using KVEDestinationOptions = KVEDestinationOptionsT<wchar_t>;
using KVEDestinationOptionsA = KVEDestinationOptionsT<char>;

// Posting kinds.
enum KVEPostingKind : uint16_t {
  PersonalReport = 1009,  // Common Views folder of the default message store
  FolderReport = 1010,    // the folder named by the options' folder path
  ReportInstance = 1011,  // as FolderReport; the kind of every interactive setup
};

// Result codes of the entry points.
enum KVEResultCode : int {
  KVE_OK = 0,
  KVE_FAILED = -1,  // the message is in the job's error text
  KVE_NO_MEMORY = 2,
  KVE_DISK_FULL = 3,
  KVE_BAD_ARGUMENT = 5,
  KVE_CANCELLED = 6,
  KVE_NO_STRING = 7,
};

// The opaque job handle.
typedef struct KVEJob_* KVEJobHandle;

extern "C" {
int WINAPI KVEInitializeW(DWORD unused);
int WINAPI KVETerminateW(void);
int WINAPI KVEGetVersionW(void);
KVEDestinationList* WINAPI KVEGetExportDestinationsW(void);
KVEDestinationList* WINAPI KVEGetExportDestinationsExW(DWORD language);
int WINAPI KVEInitExportDestinationW(HWND parentWindow, DWORD unused, const KVEDestinationOptions* options,
                                     const KVEExportInfo* exportInfo, KVEJobHandle* outJob,
                                     KVEJobRecord** outJobRecord);
int WINAPI KVETermExportDestinationW(KVEJobHandle job, DWORD unused);
int WINAPI KVEExportToDestinationW(KVEJobHandle job, const KVEExportRequest* request);
const wchar_t* WINAPI KVEGetErrorTextW(KVEJobHandle job);
int WINAPI KVEEncodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outBlock, WORD* outSize);
int WINAPI KVEDecodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outRecord);
int WINAPI KVEFreeDestinationOptionsW(DWORD unused, KVEDestinationOptions* record);
int WINAPI KVEFreeDestinationOptionsA(DWORD unused, KVEDestinationOptionsA* record);
int WINAPI KVEDestinationOptionsA2W(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                    WORD* outSize);
int WINAPI KVEA2WDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                    WORD* outSize);
int WINAPI KVEDestinationOptionsW2A(const KVEDestinationOptions* record, KVEDestinationOptionsA** outRecord,
                                    WORD* outSize);
int WINAPI IsThreadSafeW(void);
int WINAPI InitPerThreadW(void);
int WINAPI UninitPerThreadW(void);

// The narrow exports: the same calls with narrow strings, converted to and
// from the wide ones. A job handle of these is never a wide job's.
int WINAPI KVEInitialize(DWORD unused);
int WINAPI KVETerminate(void);
int WINAPI KVEGetVersion(void);
KVEDestinationListA* WINAPI KVEGetExportDestinations(void);
int WINAPI KVEInitExportDestination(HWND parentWindow, DWORD hostValue, const KVEDestinationOptionsA* options,
                                    const KVEExportInfoA* exportInfo, KVEJobHandle* outJob,
                                    KVEJobRecordA** outJobRecord);
int WINAPI KVETermExportDestination(KVEJobHandle job, DWORD value);
int WINAPI KVEExportToDestination(KVEJobHandle job, const KVEExportRequestA* request);
const char* WINAPI KVEGetErrorText(KVEJobHandle job);
int WINAPI KVEEncodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outBlock, WORD* outSize);
int WINAPI KVEDecodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outRecord);
int WINAPI KVEFreeDestinationOptions(DWORD value, KVEDestinationOptionsA* record);
int WINAPI IsThreadSafe(void);
int WINAPI InitPerThread(void);
int WINAPI UninitPerThread(void);
}

// Layout checks: size and every field offset, for both architectures.
#define KVE_CHECK_OFFSET(type, field, offset) \
  static_assert(offsetof(type, field) == (offset), #type "." #field " is at the wrong offset")

#if defined(_WIN64)
static_assert(sizeof(KVEDestinationEntry) == 22, "KVEDestinationEntry size");
KVE_CHECK_OFFSET(KVEDestinationEntry, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationEntry, name, 2);
KVE_CHECK_OFFSET(KVEDestinationEntry, reserved, 10);
KVE_CHECK_OFFSET(KVEDestinationEntry, description, 14);

static_assert(sizeof(KVEDestinationList) == 20, "KVEDestinationList size");
KVE_CHECK_OFFSET(KVEDestinationList, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationList, count, 2);
KVE_CHECK_OFFSET(KVEDestinationList, entries, 4);
KVE_CHECK_OFFSET(KVEDestinationList, identifier, 12);

static_assert(sizeof(KVEExportInfo) == 56, "KVEExportInfo size");
KVE_CHECK_OFFSET(KVEExportInfo, structSize, 0);
KVE_CHECK_OFFSET(KVEExportInfo, hostField1, 2);
KVE_CHECK_OFFSET(KVEExportInfo, hostField2, 6);
KVE_CHECK_OFFSET(KVEExportInfo, fileCount, 10);
KVE_CHECK_OFFSET(KVEExportInfo, files, 12);
KVE_CHECK_OFFSET(KVEExportInfo, hostString1, 20);
KVE_CHECK_OFFSET(KVEExportInfo, hostString2, 28);
KVE_CHECK_OFFSET(KVEExportInfo, hostString3, 36);
KVE_CHECK_OFFSET(KVEExportInfo, hostField3, 44);
KVE_CHECK_OFFSET(KVEExportInfo, language, 48);
KVE_CHECK_OFFSET(KVEExportInfo, hostField4, 52);

static_assert(sizeof(KVEExportFile) == 62, "KVEExportFile size");
KVE_CHECK_OFFSET(KVEExportFile, structSize, 0);
KVE_CHECK_OFFSET(KVEExportFile, useFileName, 2);
KVE_CHECK_OFFSET(KVEExportFile, fileName, 6);
KVE_CHECK_OFFSET(KVEExportFile, hostString1, 14);
KVE_CHECK_OFFSET(KVEExportFile, hostString2, 22);
KVE_CHECK_OFFSET(KVEExportFile, hostString3, 30);
KVE_CHECK_OFFSET(KVEExportFile, hostString4, 38);
KVE_CHECK_OFFSET(KVEExportFile, fileNamePattern, 46);
KVE_CHECK_OFFSET(KVEExportFile, hostString5, 54);

static_assert(sizeof(KVEJobRecord) == 56, "KVEJobRecord size");
KVE_CHECK_OFFSET(KVEJobRecord, structSize, 0);
KVE_CHECK_OFFSET(KVEJobRecord, hostField1, 2);
KVE_CHECK_OFFSET(KVEJobRecord, hostField5, 18);
KVE_CHECK_OFFSET(KVEJobRecord, count, 22);
KVE_CHECK_OFFSET(KVEJobRecord, strings, 24);
KVE_CHECK_OFFSET(KVEJobRecord, hostField6, 32);
KVE_CHECK_OFFSET(KVEJobRecord, hostField11, 52);

static_assert(sizeof(KVEExportRequest) == 36, "KVEExportRequest size");
KVE_CHECK_OFFSET(KVEExportRequest, structSize, 0);
KVE_CHECK_OFFSET(KVEExportRequest, count, 2);
KVE_CHECK_OFFSET(KVEExportRequest, paths, 4);
KVE_CHECK_OFFSET(KVEExportRequest, hostField1, 12);
KVE_CHECK_OFFSET(KVEExportRequest, hostField6, 32);

static_assert(sizeof(KVEDestinationOptions) == 30, "KVEDestinationOptions size");
KVE_CHECK_OFFSET(KVEDestinationOptions, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationOptions, profileName, 2);
KVE_CHECK_OFFSET(KVEDestinationOptions, password, 10);
KVE_CHECK_OFFSET(KVEDestinationOptions, postingKind, 18);
KVE_CHECK_OFFSET(KVEDestinationOptions, folderPath, 20);
KVE_CHECK_OFFSET(KVEDestinationOptions, blockSize, 28);
#else
static_assert(sizeof(KVEDestinationEntry) == 14, "KVEDestinationEntry size");
KVE_CHECK_OFFSET(KVEDestinationEntry, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationEntry, name, 2);
KVE_CHECK_OFFSET(KVEDestinationEntry, reserved, 6);
KVE_CHECK_OFFSET(KVEDestinationEntry, description, 10);

static_assert(sizeof(KVEDestinationList) == 16, "KVEDestinationList size");
KVE_CHECK_OFFSET(KVEDestinationList, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationList, count, 2);
KVE_CHECK_OFFSET(KVEDestinationList, entries, 4);
KVE_CHECK_OFFSET(KVEDestinationList, identifier, 8);

static_assert(sizeof(KVEExportInfo) == 40, "KVEExportInfo size");
KVE_CHECK_OFFSET(KVEExportInfo, structSize, 0);
KVE_CHECK_OFFSET(KVEExportInfo, hostField1, 2);
KVE_CHECK_OFFSET(KVEExportInfo, hostField2, 6);
KVE_CHECK_OFFSET(KVEExportInfo, fileCount, 10);
KVE_CHECK_OFFSET(KVEExportInfo, files, 12);
KVE_CHECK_OFFSET(KVEExportInfo, hostString1, 16);
KVE_CHECK_OFFSET(KVEExportInfo, hostString2, 20);
KVE_CHECK_OFFSET(KVEExportInfo, hostString3, 24);
KVE_CHECK_OFFSET(KVEExportInfo, hostField3, 28);
KVE_CHECK_OFFSET(KVEExportInfo, language, 32);
KVE_CHECK_OFFSET(KVEExportInfo, hostField4, 36);

static_assert(sizeof(KVEExportFile) == 34, "KVEExportFile size");
KVE_CHECK_OFFSET(KVEExportFile, structSize, 0);
KVE_CHECK_OFFSET(KVEExportFile, useFileName, 2);
KVE_CHECK_OFFSET(KVEExportFile, fileName, 6);
KVE_CHECK_OFFSET(KVEExportFile, hostString1, 10);
KVE_CHECK_OFFSET(KVEExportFile, hostString2, 14);
KVE_CHECK_OFFSET(KVEExportFile, hostString3, 18);
KVE_CHECK_OFFSET(KVEExportFile, hostString4, 22);
KVE_CHECK_OFFSET(KVEExportFile, fileNamePattern, 26);
KVE_CHECK_OFFSET(KVEExportFile, hostString5, 30);

static_assert(sizeof(KVEJobRecord) == 52, "KVEJobRecord size");
KVE_CHECK_OFFSET(KVEJobRecord, structSize, 0);
KVE_CHECK_OFFSET(KVEJobRecord, hostField1, 2);
KVE_CHECK_OFFSET(KVEJobRecord, hostField2, 6);
KVE_CHECK_OFFSET(KVEJobRecord, hostField3, 10);
KVE_CHECK_OFFSET(KVEJobRecord, hostField4, 14);
KVE_CHECK_OFFSET(KVEJobRecord, hostField5, 18);
KVE_CHECK_OFFSET(KVEJobRecord, count, 22);
KVE_CHECK_OFFSET(KVEJobRecord, strings, 24);
KVE_CHECK_OFFSET(KVEJobRecord, hostField6, 28);
KVE_CHECK_OFFSET(KVEJobRecord, hostField7, 32);
KVE_CHECK_OFFSET(KVEJobRecord, hostField8, 36);
KVE_CHECK_OFFSET(KVEJobRecord, hostField9, 40);
KVE_CHECK_OFFSET(KVEJobRecord, hostField10, 44);
KVE_CHECK_OFFSET(KVEJobRecord, hostField11, 48);

static_assert(sizeof(KVEExportRequest) == 32, "KVEExportRequest size");
KVE_CHECK_OFFSET(KVEExportRequest, structSize, 0);
KVE_CHECK_OFFSET(KVEExportRequest, count, 2);
KVE_CHECK_OFFSET(KVEExportRequest, paths, 4);
KVE_CHECK_OFFSET(KVEExportRequest, hostField1, 8);
KVE_CHECK_OFFSET(KVEExportRequest, hostField2, 12);
KVE_CHECK_OFFSET(KVEExportRequest, hostField3, 16);
KVE_CHECK_OFFSET(KVEExportRequest, hostField4, 20);
KVE_CHECK_OFFSET(KVEExportRequest, hostField5, 24);
KVE_CHECK_OFFSET(KVEExportRequest, hostField6, 28);

static_assert(sizeof(KVEDestinationOptions) == 18, "KVEDestinationOptions size");
KVE_CHECK_OFFSET(KVEDestinationOptions, structSize, 0);
KVE_CHECK_OFFSET(KVEDestinationOptions, profileName, 2);
KVE_CHECK_OFFSET(KVEDestinationOptions, password, 6);
KVE_CHECK_OFFSET(KVEDestinationOptions, postingKind, 10);
KVE_CHECK_OFFSET(KVEDestinationOptions, folderPath, 12);
KVE_CHECK_OFFSET(KVEDestinationOptions, blockSize, 16);
#endif

// The narrow forms share the wide layouts.
static_assert(sizeof(KVEDestinationEntryA) == sizeof(KVEDestinationEntry), "narrow entry layout");
static_assert(sizeof(KVEDestinationListA) == sizeof(KVEDestinationList), "narrow list layout");
static_assert(sizeof(KVEExportInfoA) == sizeof(KVEExportInfo), "narrow export info layout");
static_assert(sizeof(KVEExportFileA) == sizeof(KVEExportFile), "narrow export file layout");
static_assert(sizeof(KVEJobRecordA) == sizeof(KVEJobRecord), "narrow job record layout");
static_assert(sizeof(KVEExportRequestA) == sizeof(KVEExportRequest), "narrow request layout");
static_assert(sizeof(KVEDestinationOptionsA) == sizeof(KVEDestinationOptions), "narrow options layout");

// The persisted 32-bit block header is the same on both architectures.
static_assert(sizeof(KVEDestinationOptionsBlock32) == 18, "KVEDestinationOptionsBlock32 size");
KVE_CHECK_OFFSET(KVEDestinationOptionsBlock32, profileName, 2);
KVE_CHECK_OFFSET(KVEDestinationOptionsBlock32, password, 6);
KVE_CHECK_OFFSET(KVEDestinationOptionsBlock32, postingKind, 10);
KVE_CHECK_OFFSET(KVEDestinationOptionsBlock32, folderPath, 12);
KVE_CHECK_OFFSET(KVEDestinationOptionsBlock32, blockSize, 16);

#undef KVE_CHECK_OFFSET
