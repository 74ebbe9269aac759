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

// The opaque job handle. A number, never an address: a handle of an ended
// job, a made-up one or one of the other character width names no job.
typedef struct KVEJob_* KVEJobHandle;

// The exports. All use WINAPI (__stdcall) and are called on the host's
// thread, one call at a time (the module is not thread-safe). Codes are
// KVEResultCode values. Calling order: KVEInitializeW; any number of
// KVEGetExportDestinationsW; per export KVEInitExportDestinationW,
// KVEExportToDestinationW, KVEGetErrorTextW after a failure, optionally
// KVEEncode/KVEDecodeDestinationOptionsW, then KVETermExportDestinationW;
// finally one KVETerminateW per successful KVEInitializeW. Nothing thrown
// inside the module reaches the host. Memory the host frees is freed only
// through the module's own free exports.
extern "C" {

// Initialises the module (reference counted; the value is ignored). The
// first call opens the module's resource sets, loads the destination strings
// and the message classes in the user's language and loads MAPI32.DLL; later
// calls only count. Returns 0; 7 when a string is missing, 2 when memory
// runs out, -1 when MAPI32.DLL cannot be loaded; the module then stays
// uninitialised and a later call starts again.
int WINAPI KVEInitializeW(DWORD unused);

// Undoes one KVEInitializeW. The last one logs off the session of every job
// still open (such a job then answers 5 to an export; its error text and
// options stay readable until KVETermExportDestinationW) and unloads
// MAPI32.DLL. Destination lists stay valid. Returns 0, also when the module
// is not initialised.
int WINAPI KVETerminateW(void);

// Returns the interface version, 0x0100, in every state.
int WINAPI KVEGetVersionW(void);

// The destination list ("qfold", one entry "Exchange Folder" with its
// description) in the user's language, as KVEGetExportDestinationsExW of
// that language. The list belongs to the module and stays valid until it
// unloads; the host never frees it. Null only when memory runs out.
KVEDestinationList* WINAPI KVEGetExportDestinationsW(void);

// The destination list in language (a LANGID; 0 and 0x0400 mean the user's,
// 0x0800 the system's). One list is kept per non-zero language, so a second
// call answers the same pointer; language 0 gives a new list each call. A
// string the language's resource set lacks leaves its field empty. Owned by
// the module until it unloads; null only when memory runs out.
KVEDestinationList* WINAPI KVEGetExportDestinationsExW(DWORD language);

// Sets up an export job. parentWindow owns the dialogs. options null: log on
// with MAPI's dialog allowed, then ask the user (kind of posting for a .rpt
// file, folder selection); else log on silently with the record's profile
// and password (pointer or block layout, see options/README.md) and take its
// posting kind (1009, 1010 or 1011) and folder path. exportInfo: structSize
// must reach past files; language is read only when structSize covers it;
// host fields are not read. On 0, *outJob receives the job and, when
// outJobRecord is not null, *outJobRecord the job's record (the module's,
// valid until the job ends; zero but for structSize). Returns 0; the
// logon's failure as a code (usually -1; no job is handed out, so there is
// no error text to read); 2 out of memory or no profile name in the options;
// 5 null outJob, a null exportInfo or one too short, a bad options record or
// posting kind; 6 the user cancelled. Before KVEInitializeW, or when
// MAPIInitialize fails, it answers -1 and touches nothing. Every other
// answer leaves MAPIInitialize called once and *outJob null unless it is 0:
// the host ends with KVETermExportDestinationW, with the job or, after a
// failure, with null.
int WINAPI KVEInitExportDestinationW(HWND parentWindow, DWORD unused, const KVEDestinationOptions* options,
                                     const KVEExportInfo* exportInfo, KVEJobHandle* outJob,
                                     KVEJobRecord** outJobRecord);

// Ends a job: logs off, frees the job (its error text, record and encoded
// block with it) and balances its MAPIInitialize (unless the last
// KVETerminateW already did). job null balances the MAPIInitialize of a
// failed setup. Returns 0; 5 for a handle that names no live job (nothing is
// freed or balanced). job null before KVEInitializeW: 0, nothing called.
int WINAPI KVETermExportDestinationW(KVEJobHandle job, DWORD unused);

// Posts request->paths[0 .. count-1], each as one message into the job's
// folder (the job's posted name i for path i), opening the folder once.
// count 0 only opens and releases the folder. Every file is tried. Returns 0
// when every file was posted; else the code of the first failure (-1, 2 or
// 3, with the error text naming that file and how many failed; the files
// before it were posted); the mapped code (usually -1) when the folder
// cannot be opened; 6 when the user chose Abort in a report name dialog and
// no file had failed; 5 for a handle that names no live job, a job whose
// module was terminated, a null request, count above the job's file count
// or paths missing (nothing opened, text untouched). The request stays the
// host's.
int WINAPI KVEExportToDestinationW(KVEJobHandle job, const KVEExportRequest* request);

// The job's error text: the message of the last -1 (or of a failed posting),
// in the job's language, at most 299 characters, empty before any failure.
// The buffer belongs to the job and stays valid until it ends. Null for a
// handle that names no live job.
const wchar_t* WINAPI KVEGetErrorTextW(KVEJobHandle job);

// Encodes the job's settled options as one block (block layout: header,
// then profile name, password and folder path), for the host to store and
// pass back as the options of a later KVEInitExportDestinationW. *outBlock
// belongs to the job and stays valid until the next
// KVEEncodeDestinationOptionsW on the job or its end; *outSize (may be
// null) receives the block's size in bytes. Returns 0; 2 out of memory; 5
// for a handle that names no live job, a null outBlock, no profile name, or
// a block over 65,535 bytes.
int WINAPI KVEEncodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outBlock, WORD* outSize);

// Hands out the job's settled options as a new record (pointer layout,
// blockSize 0; absent strings are null). The host owns *outRecord and frees
// it with KVEFreeDestinationOptionsW. Returns 0; 2 out of memory; 5 for a
// handle that names no live job or a null outRecord.
int WINAPI KVEDecodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outRecord);

// Frees a record the module handed out (KVEDecodeDestinationOptionsW,
// KVEDestinationOptionsA2W), with its strings when it is in the pointer
// layout. Null is allowed. Returns 0.
int WINAPI KVEFreeDestinationOptionsW(DWORD unused, KVEDestinationOptions* record);

// As KVEFreeDestinationOptionsW, for a narrow record (KVEDestinationOptionsW2A).
int WINAPI KVEFreeDestinationOptionsA(DWORD unused, KVEDestinationOptionsA* record);

// Converts a narrow options record to a new wide one in the system's ANSI
// code page (CP_ACP), keeping its layout: a block stays a block (*outSize
// receives its size), a pointer record stays one (*outSize 0). The host
// frees *outRecord with KVEFreeDestinationOptionsW. record null: 0 and a null
// *outRecord. Returns 0; 2 out of memory; 5 for a null outRecord, a record
// that breaks the reading rule or text that does not convert. outSize may be
// null.
int WINAPI KVEDestinationOptionsA2W(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                    WORD* outSize);

// The same call as KVEDestinationOptionsA2W, under its second name.
int WINAPI KVEA2WDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                    WORD* outSize);

// Converts a wide options record to a new narrow one (CP_ACP), as
// KVEDestinationOptionsA2W the other way; freed with
// KVEFreeDestinationOptionsA.
int WINAPI KVEDestinationOptionsW2A(const KVEDestinationOptions* record, KVEDestinationOptionsA** outRecord,
                                    WORD* outSize);

// Returns 0: the module is not thread-safe; the host serialises every call.
int WINAPI IsThreadSafeW(void);
// Return 0 and do nothing else.
int WINAPI InitPerThreadW(void);
int WINAPI UninitPerThreadW(void);

// The narrow exports: the same calls with narrow strings, converted to and
// from the wide ones (see kv2fold/ansi/). Strings of the records are in the
// thread's ANSI code page (CP_THREAD_ACP on Windows 2000 and later, else
// CP_ACP), options records and blocks in CP_ACP. A narrow job handle names a
// narrow job only; the handles of the two sets must not be mixed (a wide
// handle given to a narrow export answers 5, or null for the error text,
// and the other way round).
// What the module hands back stays its own, as stated for each export.

// Forward to KVEInitializeW, KVETerminateW, KVEGetVersionW.
int WINAPI KVEInitialize(DWORD unused);
int WINAPI KVETerminate(void);
int WINAPI KVEGetVersion(void);

// The destination list in the user's language, converted once at the first
// call (under a lock) and kept until the module unloads; a later change of
// the user's language does not change it. There is no narrow form by
// language. Null when the conversion runs out of memory.
KVEDestinationListA* WINAPI KVEGetExportDestinations(void);

// As KVEInitExportDestinationW. The narrow options and export description
// are converted and the copies freed before the call returns. *outJobRecord
// is a narrow record owned by the job until KVETermExportDestination. The
// converted export description carries the wide structSize, so every field
// of the narrow one is read (language included). Also 2 when a record or
// array cannot be copied; a setup refused here (options the conversion
// refuses, memory) never reached MAPI.
int WINAPI KVEInitExportDestination(HWND parentWindow, DWORD hostValue, const KVEDestinationOptionsA* options,
                                    const KVEExportInfoA* exportInfo, KVEJobHandle* outJob,
                                    KVEJobRecordA** outJobRecord);

// As KVETermExportDestinationW. job null after a failed setup balances MAPI
// exactly as the wide call does, and answers 0 without calling it when the
// setup was refused before it reached the wide one.
int WINAPI KVETermExportDestination(KVEJobHandle job, DWORD value);

// As KVEExportToDestinationW; the converted request is freed before the call
// returns. 2, nothing posted, when the path array cannot be copied.
int WINAPI KVEExportToDestination(KVEJobHandle job, const KVEExportRequestA* request);

// The job's error text converted to the thread's ANSI code page. Valid until
// the next KVEGetErrorText on the job or its end; null for a handle that
// names no live narrow job.
const char* WINAPI KVEGetErrorText(KVEJobHandle job);

// As KVEEncodeDestinationOptionsW, converted to a narrow block (CP_ACP).
// *outBlock belongs to the job until the next KVEEncodeDestinationOptions
// on the job or its end.
int WINAPI KVEEncodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outBlock, WORD* outSize);

// As KVEDecodeDestinationOptionsW, converted to a narrow pointer record
// (CP_ACP) that the host frees with KVEFreeDestinationOptions.
int WINAPI KVEDecodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outRecord);

// Frees a narrow record from KVEDecodeDestinationOptions or
// KVEDestinationOptionsW2A (through KVEFreeDestinationOptionsA). Returns 0.
int WINAPI KVEFreeDestinationOptions(DWORD value, KVEDestinationOptionsA* record);

// Forward to IsThreadSafeW, InitPerThreadW, UninitPerThreadW (0).
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
