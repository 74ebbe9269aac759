// IMAPITable over a snapshot of rows taken when the table was opened:
// columns, restriction, sort order, cursor and bookmarks. The rows are either
// made at once or read from a file as they are needed (a folder's contents).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "object_base.h"
#include "value.h"

namespace provider {

using TableRow = std::vector<Value>;

// Columns that are costly to make for every row of a large table: left out
// of the rows at first and filled in, for every row at once, the first time
// a caller asks for one of them (as a column, or by restricting, sorting or
// finding). A table may defer several such groups.
struct DeferredColumns {
  std::vector<ULONG> tags;
  std::function<void(size_t row, TableRow& values)> fill;
};

// Where a table's rows come from.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual size_t Count() const = 0;
  // Row index (below Count()); row stays valid until the next call.
  virtual HRESULT Row(size_t index, const TableRow*& row) = 0;
  // Called before rows are read for these columns (null: every column).
  virtual void Prepare(const std::vector<ULONG>* tags) { (void)tags; }
};

// Rows made when the table is opened.
class MemoryRows final : public RowSource {
 public:
  MemoryRows(std::vector<TableRow> rows, std::vector<DeferredColumns> deferred)
      : rows_(std::move(rows)), deferred_(std::move(deferred)) {}
  size_t Count() const override { return rows_.size(); }
  HRESULT Row(size_t index, const TableRow*& row) override {
    row = &rows_[index];
    return S_OK;
  }
  void Prepare(const std::vector<ULONG>* tags) override;

 private:
  std::vector<TableRow> rows_;
  std::vector<DeferredColumns> deferred_;  // a group's tags are emptied once it is filled in
};

class TableObject final : public ComObject<IMAPITable> {
 public:
  // defaultColumns: the column set before SetColumns; allColumns: what
  // QueryColumns(TBL_ALL_COLUMNS) lists. String columns are narrow unless unicode.
  TableObject(std::vector<TableRow> rows, const std::vector<ULONG>& defaultColumns, const std::vector<ULONG>& allColumns,
              bool unicode, std::vector<DeferredColumns> deferred = {});
  TableObject(std::unique_ptr<RowSource> source, const std::vector<ULONG>& defaultColumns,
              const std::vector<ULONG>& allColumns, bool unicode);

  STDMETHODIMP GetLastError(HRESULT result, ULONG flags, LPMAPIERROR* error) override;
  STDMETHODIMP Advise(ULONG, LPMAPIADVISESINK, ULONG* connection) override;
  STDMETHODIMP Unadvise(ULONG) override;
  STDMETHODIMP GetStatus(ULONG* status, ULONG* type) override;
  STDMETHODIMP SetColumns(LPSPropTagArray tags, ULONG flags) override;
  STDMETHODIMP QueryColumns(ULONG flags, LPSPropTagArray* tags) override;
  STDMETHODIMP GetRowCount(ULONG flags, ULONG* count) override;
  STDMETHODIMP SeekRow(BOOKMARK origin, LONG rowCount, LONG* sought) override;
  STDMETHODIMP SeekRowApprox(ULONG numerator, ULONG denominator) override;
  STDMETHODIMP QueryPosition(ULONG* row, ULONG* numerator, ULONG* denominator) override;
  STDMETHODIMP FindRow(LPSRestriction restriction, BOOKMARK origin, ULONG flags) override;
  STDMETHODIMP Restrict(LPSRestriction restriction, ULONG flags) override;
  STDMETHODIMP CreateBookmark(BOOKMARK* position) override;
  STDMETHODIMP FreeBookmark(BOOKMARK position) override;
  STDMETHODIMP SortTable(LPSSortOrderSet order, ULONG flags) override;
  STDMETHODIMP QuerySortOrder(LPSSortOrderSet* order) override;
  STDMETHODIMP QueryRows(LONG rowCount, ULONG flags, LPSRowSet* rows) override;
  STDMETHODIMP Abort() override;
  STDMETHODIMP ExpandRow(ULONG, LPBYTE, ULONG, ULONG flags, LPSRowSet* rows, ULONG* more) override;
  STDMETHODIMP CollapseRow(ULONG, LPBYTE, ULONG flags, ULONG* count) override;
  STDMETHODIMP WaitForCompletion(ULONG flags, ULONG timeout, ULONG* status) override;
  STDMETHODIMP GetCollapseState(ULONG flags, ULONG, LPBYTE, ULONG* size, LPBYTE* state) override;
  STDMETHODIMP SetCollapseState(ULONG flags, ULONG, LPBYTE, BOOKMARK* location) override;

 protected:
  bool Supports(REFIID iid) const override { return IsEqualIID(iid, IID_IMAPITable) != 0; }

 private:
  HRESULT ApplySort();
  HRESULT Position(BOOKMARK origin, size_t& out) const;
  size_t ViewSize() const { return whole_ ? source_->Count() : view_.size(); }
  size_t ViewRow(size_t position) const { return whole_ ? position : view_[position]; }
  HRESULT RowAt(size_t position, const TableRow*& row) { return source_->Row(ViewRow(position), row); }

  std::mutex lock_;
  std::unique_ptr<RowSource> source_;
  // The rows that pass the restriction, in sort order: every row in the
  // source's order while there is neither (whole_), so that a table of a
  // million rows holds no list of them.
  bool whole_ = true;
  bool restricted_ = false;
  std::vector<size_t> view_;
  std::vector<ULONG> columns_;
  std::vector<ULONG> allColumns_;
  std::vector<SSortOrder> sortKeys_;
  size_t cursor_ = 0;
  std::vector<size_t> bookmarks_;  // BOOKMARK value b >= 3 is bookmarks_[b - 3]; SIZE_MAX when freed
  bool unicode_;
};

// Whether a row passes a restriction; MAPI_E_TOO_COMPLEX for kinds not offered.
HRESULT EvaluateRestriction(const SRestriction& restriction, const TableRow& row, bool& passes);

}  // namespace provider
