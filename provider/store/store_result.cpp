#include "store_result.h"

#include <mapidefs.h>
#include <mapicode.h>

namespace provider {

HRESULT StoreResultToHresult(StoreResult result) {
  switch (result) {
    case StoreResult::Ok: return S_OK;
    case StoreResult::NotFound: return MAPI_E_NOT_FOUND;
    case StoreResult::Corrupt: return MAPI_E_CORRUPT_DATA;
    case StoreResult::Collision: return MAPI_E_COLLISION;
    case StoreResult::InvalidName: return MAPI_E_INVALID_PARAMETER;
    case StoreResult::NoAccess: return MAPI_E_NO_ACCESS;
    case StoreResult::LogonFailed: return MAPI_E_LOGON_FAILED;
    case StoreResult::NetworkError: return MAPI_E_NETWORK_ERROR;
    case StoreResult::OverQuota: return MAPI_E_NOT_ENOUGH_DISK;
    case StoreResult::TooBig: return MAPI_E_TOO_BIG;
    case StoreResult::NotSupported: return MAPI_E_NO_SUPPORT;
    case StoreResult::Refused: return MAPI_E_CALL_FAILED;
    case StoreResult::OutOfMemory: return MAPI_E_NOT_ENOUGH_MEMORY;
    default: return MAPI_E_DISK_ERROR;
  }
}

}  // namespace provider
