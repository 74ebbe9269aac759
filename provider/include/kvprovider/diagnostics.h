// Extra exports of our MAPI32.DLL for tests: live object and buffer
// accounting and fault injection. They answer only while the environment
// variable KV_MAPI_DIAGNOSTICS is 1 in the calling process; otherwise the
// counters read -1 and the fault calls MAPI_E_NO_SUPPORT.
//
// Every call of an interface method can also be traced: set KV_MAPI_TRACE to a
// file name and each call appends one line "Interface::Method flags=0x... -> 0x...".
// KV_MAPI_FAULTS can arm faults from outside a process, in the form
// "IMAPITable::SetColumns#1=0x8004010B;IMAPITable::WaitForCompletion#1=0x80040401".
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Interface objects (sessions, stores, folders, tables, users, messages,
// attachments, streams) not yet released.
LONG WINAPI KvMapiLiveObjects(void);
// Buffers from MAPIAllocateBuffer not yet freed (their MAPIAllocateMore blocks go with them).
LONG WINAPI KvMapiOutstandingBuffers(void);
// Makes the nthCall-th call (1 = the next one) of "Interface::Method" return result.
// A MAPI_E_BUSY fault on a table call that only changes the table's state
// (SetColumns, Restrict, SortTable, SeekRow, FindRow) does the work and then
// answers busy; on a call that delivers something nothing is delivered.
HRESULT WINAPI KvMapiInjectFault(LPCSTR method, ULONG nthCall, HRESULT result);
HRESULT WINAPI KvMapiClearFaults(void);

typedef LONG(WINAPI* KvMapiCounterFunction)(void);
typedef HRESULT(WINAPI* KvMapiInjectFaultFunction)(LPCSTR, ULONG, HRESULT);
typedef HRESULT(WINAPI* KvMapiClearFaultsFunction)(void);

#ifdef __cplusplus
}
#endif

#define KV_MAPI_DIAGNOSTICS_VARIABLE L"KV_MAPI_DIAGNOSTICS"
#define KV_MAPI_TRACE_VARIABLE L"KV_MAPI_TRACE"
#define KV_MAPI_FAULTS_VARIABLE L"KV_MAPI_FAULTS"
#define KV_MAPI_PROFILES_VARIABLE L"KV_MAPI_PROFILES"
