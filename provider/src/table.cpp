#include "table.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <mapiutil.h>

#include "properties.h"
#include "text.h"

namespace provider {
namespace {

constexpr const char* kName = "IMAPITable";
constexpr BOOKMARK kFirstBookmark = 3;

bool IsString(ULONG tag) { return PROP_TYPE(tag) == PT_UNICODE || PROP_TYPE(tag) == PT_STRING8; }

bool ValueFromProp(const SPropValue& prop, Value& out) {
  out = Value();
  out.tag = prop.ulPropTag;
  switch (PROP_TYPE(prop.ulPropTag)) {
    case PT_I2: out.number = prop.Value.i; return true;
    case PT_LONG: out.number = prop.Value.l; return true;
    case PT_BOOLEAN: out.number = prop.Value.b ? 1 : 0; return true;
    case PT_I8: out.number = prop.Value.li.QuadPart; return true;
    case PT_SYSTIME:
      out.number = static_cast<int64_t>((static_cast<uint64_t>(prop.Value.ft.dwHighDateTime) << 32) | prop.Value.ft.dwLowDateTime);
      return true;
    case PT_UNICODE:
      if (!prop.Value.lpszW) return false;
      out.text = prop.Value.lpszW;
      return true;
    case PT_STRING8:
      if (!prop.Value.lpszA) return false;
      out.text = WideText(prop.Value.lpszA);
      return true;
    case PT_BINARY:
      if (prop.Value.bin.cb && !prop.Value.bin.lpb) return false;
      out.bytes.assign(prop.Value.bin.lpb, prop.Value.bin.lpb + prop.Value.bin.cb);
      return true;
    default:
      return false;
  }
}

bool Comparable(ULONG a, ULONG b) { return PROP_TYPE(a) == PROP_TYPE(b) || (IsString(a) && IsString(b)); }
bool Comparable(const Value& a, const Value& b) { return Comparable(a.tag, b.tag); }

int CompareNumbers(ULONG tag, int64_t a, int64_t b) {
  if (PROP_TYPE(tag) == PT_SYSTIME || PROP_TYPE(tag) == PT_I8) {
    uint64_t x = static_cast<uint64_t>(a), y = static_cast<uint64_t>(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  return a < b ? -1 : a > b ? 1 : 0;
}

// Strings ignore case, as the store orders and matches names; ties are broken
// ordinally so that sorting is deterministic.
int CompareValues(const Value& a, const Value& b) {
  if (IsString(a.tag)) {
    int order = CompareIgnoreCase(a.text, b.text);
    return order;
  }
  if (PROP_TYPE(a.tag) == PT_BINARY) {
    size_t common = std::min(a.bytes.size(), b.bytes.size());
    int order = common ? memcmp(a.bytes.data(), b.bytes.data(), common) : 0;
    if (order) return order;
    return a.bytes.size() < b.bytes.size() ? -1 : a.bytes.size() > b.bytes.size() ? 1 : 0;
  }
  return CompareNumbers(a.tag, a.number, b.number);
}

const Value* RowValue(const TableRow& row, ULONG tag) {
  const Value* value = FindValue(row, tag);
  if (!value || PROP_TYPE(value->tag) == PT_ERROR) return nullptr;
  return value;
}

std::wstring Lower(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharLowerBuffW(&out[0], static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace

HRESULT EvaluateRestriction(const SRestriction& restriction, const TableRow& row, bool& passes) {
  passes = false;
  switch (restriction.rt) {
    case RES_AND:
    case RES_OR: {
      const SAndRestriction& list = restriction.res.resAnd;
      if (list.cRes && !list.lpRes) return MAPI_E_INVALID_PARAMETER;
      bool isAnd = restriction.rt == RES_AND;
      passes = isAnd;
      for (ULONG i = 0; i < list.cRes; ++i) {
        bool one = false;
        HRESULT hr = EvaluateRestriction(list.lpRes[i], row, one);
        if (FAILED(hr)) return hr;
        if (isAnd && !one) passes = false;
        if (!isAnd && one) passes = true;
      }
      return S_OK;
    }
    case RES_NOT: {
      if (!restriction.res.resNot.lpRes) return MAPI_E_INVALID_PARAMETER;
      HRESULT hr = EvaluateRestriction(*restriction.res.resNot.lpRes, row, passes);
      passes = !passes;
      return hr;
    }
    case RES_EXIST:
      passes = RowValue(row, restriction.res.resExist.ulPropTag) != nullptr;
      return S_OK;
    case RES_PROPERTY: {
      const SPropertyRestriction& property = restriction.res.resProperty;
      Value wanted;
      if (!property.lpProp || !ValueFromProp(*property.lpProp, wanted)) return MAPI_E_TOO_COMPLEX;
      if (property.relop > RELOP_NE) return MAPI_E_TOO_COMPLEX;
      const Value* have = RowValue(row, property.ulPropTag);
      if (!have || !Comparable(*have, wanted)) return S_OK;
      int order = CompareValues(*have, wanted);
      switch (property.relop) {
        case RELOP_LT: passes = order < 0; break;
        case RELOP_LE: passes = order <= 0; break;
        case RELOP_GT: passes = order > 0; break;
        case RELOP_GE: passes = order >= 0; break;
        case RELOP_EQ: passes = order == 0; break;
        case RELOP_NE: passes = order != 0; break;
      }
      return S_OK;
    }
    case RES_CONTENT: {
      const SContentRestriction& content = restriction.res.resContent;
      Value wanted;
      if (!content.lpProp || !ValueFromProp(*content.lpProp, wanted) || !IsString(wanted.tag)) return MAPI_E_TOO_COMPLEX;
      const Value* have = RowValue(row, content.ulPropTag);
      if (!have || !IsString(have->tag)) return S_OK;
      bool ignoreCase = (content.ulFuzzyLevel & (FL_IGNORECASE | FL_LOOSE)) != 0;
      std::wstring text = ignoreCase ? Lower(have->text) : have->text;
      std::wstring part = ignoreCase ? Lower(wanted.text) : wanted.text;
      switch (content.ulFuzzyLevel & 0xFFFF) {
        case FL_FULLSTRING: passes = text == part; break;
        case FL_SUBSTRING: passes = text.find(part) != std::wstring::npos; break;
        case FL_PREFIX: passes = text.compare(0, part.size(), part) == 0; break;
        default: return MAPI_E_TOO_COMPLEX;
      }
      return S_OK;
    }
    case RES_BITMASK: {
      const SBitMaskRestriction& mask = restriction.res.resBitMask;
      const Value* have = RowValue(row, mask.ulPropTag);
      if (!have || PROP_TYPE(have->tag) != PT_LONG) return S_OK;
      bool zero = (static_cast<ULONG>(have->number) & mask.ulMask) == 0;
      passes = mask.relBMR == BMR_EQZ ? zero : !zero;
      return S_OK;
    }
    default:
      return MAPI_E_TOO_COMPLEX;
  }
}

void MemoryRows::Prepare(const std::vector<ULONG>* tags) {
  for (DeferredColumns& group : deferred_) {
    if (group.tags.empty()) continue;
    bool wanted = tags == nullptr;
    for (size_t i = 0; !wanted && i < tags->size(); ++i) {
      for (ULONG deferred : group.tags) wanted = wanted || PROP_ID((*tags)[i]) == PROP_ID(deferred);
    }
    if (!wanted) continue;
    for (size_t i = 0; i < rows_.size(); ++i) group.fill(i, rows_[i]);
    group.tags.clear();
  }
}

TableObject::TableObject(std::vector<TableRow> rows, const std::vector<ULONG>& defaultColumns,
                         const std::vector<ULONG>& allColumns, bool unicode, std::vector<DeferredColumns> deferred)
    : TableObject(std::unique_ptr<RowSource>(new MemoryRows(std::move(rows), std::move(deferred))), defaultColumns,
                  allColumns, unicode) {}

TableObject::TableObject(std::unique_ptr<RowSource> source, const std::vector<ULONG>& defaultColumns,
                         const std::vector<ULONG>& allColumns, bool unicode)
    : source_(std::move(source)), unicode_(unicode) {
  for (ULONG tag : defaultColumns) columns_.push_back(NaturalTag(tag, unicode));
  for (ULONG tag : allColumns) allColumns_.push_back(NaturalTag(tag, unicode));
}

STDMETHODIMP TableObject::GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) {
  if (error) *error = nullptr;
  return Guard(kName, "GetLastError", flags, [&] { return BuildMapiError(result, flags, error); });
}

STDMETHODIMP TableObject::Advise(ULONG, LPMAPIADVISESINK, ULONG* connection) {
  if (connection) *connection = 0;
  return Guard(kName, "Advise", 0, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP TableObject::Unadvise(ULONG) {
  return Guard(kName, "Unadvise", 0, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP TableObject::GetStatus(ULONG* status, ULONG* type) {
  return Guard(kName, "GetStatus", 0, [&]() -> HRESULT {
    if (!status || !type) return MAPI_E_INVALID_PARAMETER;
    *status = TBLSTAT_COMPLETE;
    *type = TBLTYPE_SNAPSHOT;
    return S_OK;
  });
}

STDMETHODIMP TableObject::SetColumns(LPSPropTagArray tags, ULONG flags) {
  return Guard(kName, "SetColumns", flags, [&]() -> HRESULT {
    if (!tags || tags->cValues == 0) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::QueryColumns(ULONG flags, LPSPropTagArray* tags) {
  if (tags) *tags = nullptr;
  return Guard(kName, "QueryColumns", flags, [&]() -> HRESULT {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~TBL_ALL_COLUMNS) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(lock_);
    return AllocateTagArray((flags & TBL_ALL_COLUMNS) ? allColumns_ : columns_, tags);
  });
}

STDMETHODIMP TableObject::GetRowCount(ULONG flags, ULONG* count) {
  return Guard(kName, "GetRowCount", flags, [&]() -> HRESULT {
    if (!count) return MAPI_E_INVALID_PARAMETER;
    if (flags) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(lock_);
    *count = static_cast<ULONG>(ViewSize());
    return S_OK;
  });
}

HRESULT TableObject::Position(BOOKMARK origin, size_t& out) const {
  if (origin == BOOKMARK_BEGINNING) out = 0;
  else if (origin == BOOKMARK_CURRENT) out = cursor_;
  else if (origin == BOOKMARK_END) out = ViewSize();
  else if (origin >= kFirstBookmark && origin - kFirstBookmark < bookmarks_.size() &&
           bookmarks_[origin - kFirstBookmark] != SIZE_MAX)
    out = std::min(bookmarks_[origin - kFirstBookmark], ViewSize());
  else
    return MAPI_E_INVALID_BOOKMARK;
  return S_OK;
}

STDMETHODIMP TableObject::SeekRow(BOOKMARK origin, LONG rowCount, LONG* sought) {
  if (sought) *sought = 0;
  return Guard(kName, "SeekRow", 0, [&]() -> HRESULT {
    std::lock_guard<std::mutex> guard(lock_);
    size_t start = 0;
    HRESULT hr = Position(origin, start);
    if (FAILED(hr)) return hr;
    long long target = static_cast<long long>(start) + rowCount;
    if (target < 0) target = 0;
    if (target > static_cast<long long>(ViewSize())) target = static_cast<long long>(ViewSize());
    cursor_ = static_cast<size_t>(target);
    if (sought) *sought = static_cast<LONG>(target - static_cast<long long>(start));
    return S_OK;
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::SeekRowApprox(ULONG numerator, ULONG denominator) {
  return Guard(kName, "SeekRowApprox", 0, [&]() -> HRESULT {
    if (denominator == 0) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    unsigned long long position = static_cast<unsigned long long>(ViewSize()) * numerator / denominator;
    cursor_ = static_cast<size_t>(std::min<unsigned long long>(position, ViewSize()));
    return S_OK;
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) {
  return Guard(kName, "QueryPosition", 0, [&]() -> HRESULT {
    if (!row || !numerator || !denominator) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    *row = cursor_ < ViewSize() ? static_cast<ULONG>(cursor_) : 0xFFFFFFFF;
    *numerator = static_cast<ULONG>(cursor_);
    *denominator = static_cast<ULONG>(ViewSize() == 0 ? 1 : ViewSize());
    return S_OK;
  });
}

STDMETHODIMP TableObject::FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) {
  return Guard(kName, "FindRow", flags, [&]() -> HRESULT {
    if (!restriction) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~DIR_BACKWARD) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(lock_);
    source_->Prepare(nullptr);
    size_t start = 0;
    HRESULT hr = Position(origin, start);
    if (FAILED(hr)) return hr;
    bool backward = (flags & DIR_BACKWARD) != 0;
    for (size_t i = start;;) {
      if (backward) {
        if (i == 0) break;
        --i;
      } else if (i >= ViewSize()) {
        break;
      }
      bool passes = false;
      const TableRow* row = nullptr;
      if (FAILED(hr = RowAt(i, row))) return hr;
      hr = EvaluateRestriction(*restriction, *row, passes);
      if (FAILED(hr)) return hr;
      if (passes) {
        cursor_ = i;
        return S_OK;
      }
      if (!backward) ++i;
    }
    return MAPI_E_NOT_FOUND;
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::Restrict(LPSRestriction restriction, ULONG flags) {
  return Guard(kName, "Restrict", flags, [&]() -> HRESULT {
    if (flags & ~TBL_BATCH) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<size_t> view;
    if (restriction) {
      source_->Prepare(nullptr);
      for (size_t i = 0; i < source_->Count(); ++i) {
        bool passes = true;
        const TableRow* row = nullptr;
        HRESULT hr = source_->Row(i, row);
        if (SUCCEEDED(hr)) hr = EvaluateRestriction(*restriction, *row, passes);
        if (FAILED(hr)) return hr;
        if (passes) view.push_back(i);
      }
    }
    view_ = std::move(view);
    restricted_ = restriction != nullptr;
    cursor_ = 0;
    return ApplySort();
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::CreateBookmark(BOOKMARK* position) {
  return Guard(kName, "CreateBookmark", 0, [&]() -> HRESULT {
    if (!position) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    bookmarks_.push_back(cursor_);
    *position = kFirstBookmark + bookmarks_.size() - 1;
    return S_OK;
  });
}

STDMETHODIMP TableObject::FreeBookmark(BOOKMARK position) {
  return Guard(kName, "FreeBookmark", 0, [&]() -> HRESULT {
    std::lock_guard<std::mutex> guard(lock_);
    if (position < kFirstBookmark || position - kFirstBookmark >= bookmarks_.size() ||
        bookmarks_[position - kFirstBookmark] == SIZE_MAX)
      return MAPI_E_INVALID_BOOKMARK;
    bookmarks_[position - kFirstBookmark] = SIZE_MAX;
    return S_OK;
  });
}

HRESULT TableObject::ApplySort() {
  if (!restricted_ && sortKeys_.empty()) {
    whole_ = true;
    std::vector<size_t>().swap(view_);
    return S_OK;
  }
  if (!restricted_) {
    view_.resize(source_->Count());
    for (size_t i = 0; i < view_.size(); ++i) view_[i] = i;
  }
  whole_ = false;
  if (sortKeys_.empty()) {
    std::sort(view_.begin(), view_.end());
    return S_OK;
  }
  // The sort values of each row, taken out once: rows read from a file are
  // not held. Numbers are kept in the cell itself, strings and byte blocks
  // beside the cells; a value a row lacks has tag 0.
  struct Cell {
    ULONG tag = 0;
    uint32_t other = 0;  // strings and byte blocks: the place in others
    int64_t number = 0;
  };
  const size_t width = sortKeys_.size();
  std::vector<Cell> cells(view_.size() * width);
  std::vector<Value> others;
  for (size_t p = 0; p < view_.size(); ++p) {
    const TableRow* row = nullptr;
    HRESULT hr = source_->Row(view_[p], row);
    if (FAILED(hr)) return hr;
    for (size_t k = 0; k < width; ++k) {
      const Value* value = RowValue(*row, sortKeys_[k].ulPropTag);
      if (!value) continue;
      Cell& cell = cells[p * width + k];
      cell.tag = value->tag;
      cell.number = value->number;
      if (IsString(value->tag) || PROP_TYPE(value->tag) == PT_BINARY) {
        cell.other = static_cast<uint32_t>(others.size());
        others.push_back(*value);
      }
    }
  }
  auto compare = [&others](const Cell& x, const Cell& y) {
    if (!x.tag || !y.tag) return (x.tag ? 1 : 0) - (y.tag ? 1 : 0);  // rows without the value come first
    if (!Comparable(x.tag, y.tag)) return 0;
    if (IsString(x.tag) || PROP_TYPE(x.tag) == PT_BINARY) return CompareValues(others[x.other], others[y.other]);
    return CompareNumbers(x.tag, x.number, y.number);
  };
  std::vector<size_t> order(view_.size());
  for (size_t p = 0; p < order.size(); ++p) order[p] = p;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    for (size_t k = 0; k < width; ++k) {
      int compared = compare(cells[a * width + k], cells[b * width + k]);
      if (sortKeys_[k].ulOrder == TABLE_SORT_DESCEND) compared = -compared;
      if (compared) return compared < 0;
    }
    return view_[a] < view_[b];
  });
  std::vector<size_t> sorted(order.size());
  for (size_t p = 0; p < order.size(); ++p) sorted[p] = view_[order[p]];
  view_ = std::move(sorted);
  return S_OK;
}

STDMETHODIMP TableObject::SortTable(LPSSortOrderSet order, ULONG flags) {
  return Guard(kName, "SortTable", flags, [&]() -> HRESULT {
    if (!order) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~TBL_BATCH) return MAPI_E_UNKNOWN_FLAGS;
    if (order->cCategories || order->cExpanded) return MAPI_E_TOO_COMPLEX;
    for (ULONG i = 0; i < order->cSorts; ++i) {
      const SSortOrder& key = order->aSort[i];
      if ((PROP_TYPE(key.ulPropTag) & MV_FLAG) || (key.ulOrder != TABLE_SORT_ASCEND && key.ulOrder != TABLE_SORT_DESCEND))
        return MAPI_E_TOO_COMPLEX;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (order->cSorts) source_->Prepare(nullptr);
    sortKeys_.assign(order->aSort, order->aSort + order->cSorts);
    cursor_ = 0;
    return ApplySort();
  }, BusyFault::StateOnly);
}

STDMETHODIMP TableObject::QuerySortOrder(LPSSortOrderSet* order) {
  if (order) *order = nullptr;
  return Guard(kName, "QuerySortOrder", 0, [&]() -> HRESULT {
    if (!order) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    void* raw = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSSortOrderSet(sortKeys_.size()), &raw);
    if (FAILED(hr)) return hr;
    LPSSortOrderSet set = static_cast<LPSSortOrderSet>(raw);
    set->cSorts = static_cast<ULONG>(sortKeys_.size());
    set->cCategories = 0;
    set->cExpanded = 0;
    for (size_t i = 0; i < sortKeys_.size(); ++i) set->aSort[i] = sortKeys_[i];
    *order = set;
    return S_OK;
  });
}

STDMETHODIMP TableObject::QueryRows(LONG rowCount, ULONG flags, LPSRowSet* rows) {
  if (rows) *rows = nullptr;
  return Guard(kName, "QueryRows", flags, [&]() -> HRESULT {
    if (!rows || rowCount == 0) return MAPI_E_INVALID_PARAMETER;
    if (flags & ~TBL_NOADVANCE) return MAPI_E_UNKNOWN_FLAGS;
    std::lock_guard<std::mutex> guard(lock_);
    source_->Prepare(&columns_);
    size_t first = cursor_, count = 0;
    if (rowCount >= 0) {
      count = std::min<size_t>(static_cast<size_t>(rowCount), ViewSize() - std::min(cursor_, ViewSize()));
    } else {
      // Backwards: the start moves back, then the rows are read forwards.
      size_t back = rowCount == LONG_MIN ? cursor_ : std::min<size_t>(static_cast<size_t>(-static_cast<long long>(rowCount)), cursor_);
      first = cursor_ - back;
      count = back;
    }
    void* raw = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewSRowSet(count ? count : 1), &raw);
    if (FAILED(hr)) return hr;
    // Owned until handed out: a failure on the way frees the rows made so far.
    kvcommon::UniqueRowSet set(static_cast<LPSRowSet>(raw));
    set->cRows = 0;
    for (size_t i = 0; i < count; ++i) {
      const TableRow* row = nullptr;
      if (FAILED(hr = RowAt(first + i, row))) return hr;
      std::vector<Value> values;
      values.reserve(columns_.size());
      for (ULONG tag : columns_) values.push_back(ResolveValue(*row, tag, unicode_));
      LPSPropValue props = nullptr;
      hr = AllocatePropArray(values, &props);
      if (FAILED(hr)) return hr;
      set->aRow[i].ulAdrEntryPad = 0;
      set->aRow[i].cValues = static_cast<ULONG>(values.size());
      set->aRow[i].lpProps = props;
      set->cRows = static_cast<ULONG>(i + 1);
    }
    // The cursor ends on the first row returned (TBL_NOADVANCE) or on the row after the last.
    cursor_ = (flags & TBL_NOADVANCE) ? first : first + count;
    *rows = set.release();
    return S_OK;
  });
}

STDMETHODIMP TableObject::Abort() {
  return Guard(kName, "Abort", 0, [] { return S_OK; });
}

STDMETHODIMP TableObject::ExpandRow(ULONG, LPBYTE, ULONG, ULONG flags, LPSRowSet* rows, ULONG* more) {
  if (rows) *rows = nullptr;
  if (more) *more = 0;
  return Guard(kName, "ExpandRow", flags, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP TableObject::CollapseRow(ULONG, LPBYTE, ULONG flags, ULONG* count) {
  if (count) *count = 0;
  return Guard(kName, "CollapseRow", flags, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP TableObject::WaitForCompletion(ULONG flags, ULONG, ULONG* status) {
  // Every operation of this table completes before it returns.
  if (status) *status = TBLSTAT_COMPLETE;
  return Guard(kName, "WaitForCompletion", flags, [] { return S_OK; });
}

STDMETHODIMP TableObject::GetCollapseState(ULONG flags, ULONG, LPBYTE, ULONG* size, LPBYTE* state) {
  if (size) *size = 0;
  if (state) *state = nullptr;
  return Guard(kName, "GetCollapseState", flags, [] { return MAPI_E_NO_SUPPORT; });
}

STDMETHODIMP TableObject::SetCollapseState(ULONG flags, ULONG, LPBYTE, BOOKMARK* location) {
  if (location) *location = 0;
  return Guard(kName, "SetCollapseState", flags, [] { return MAPI_E_NO_SUPPORT; });
}

}  // namespace provider
