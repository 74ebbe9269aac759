// A folder's contents table: its rows are read from the store's list of the
// folder's messages as they are needed (on disk, from the folder's index),
// so a folder of any size opens at once.
#pragma once

#include <mapidefs.h>

#include "session_state.h"

namespace provider {

// flags: MAPI_ASSOCIATED and MAPI_UNICODE are honoured. Lines of an index
// that are damaged are passed over.
HRESULT OpenContentsTable(const std::shared_ptr<StoreState>& store, const StoreFolder& folder, ULONG flags,
                          LPMAPITABLE* table);

}  // namespace provider
