// TDbDataSet: what tables and queries share. A dataset is attached to a
// connection, is closed, browsing, editing a row or inserting one, and gives
// its current row as fields.
#ifndef KX8_DBACCESS_DB_DATASET_H_
#define KX8_DBACCESS_DB_DATASET_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbaccess/db_component.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_field.h"
#include "dbaccess/db_types.h"

namespace kx8::dbaccess {

class TDbConnection;

class TDbDataSet : public TComponent {
 public:
  using THook = std::function<void(TDbDataSet&)>;
  // Called when Post fails, before the error goes on to the caller.
  using TPostErrorHook = std::function<void(TDbDataSet&, const DbError&)>;

  ~TDbDataSet() override;

  // --- attachment (only while closed) --------------------------------------
  TDbConnection* DbConnection() const { return connection_; }
  void SetDbConnection(TDbConnection* connection);
  // The name of a connection component: setting it attaches the dataset to
  // the connection of that name (without regard to case, one with the same
  // owner first), or to none when there is no such connection yet.
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);

  TDbTableOptions& DbTableOptions() { return options_; }
  const TDbTableOptions& DbTableOptions() const { return options_; }

  // --- state -------------------------------------------------------------------
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active);
  void Open();
  void Close();
  TDataSetState State() const { return state_; }
  // False for a query over a static (not live) result.
  bool CanModify() const { return can_modify_; }

  // --- fields --------------------------------------------------------------------
  // Field definitions: filled from the engine on every open; a table also
  // creates its fields from them (CreateTable).
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int i);
  TField& FieldByName(const std::string& name);
  TField* FindField(const std::string& name);

  // --- indexes -------------------------------------------------------------------
  // Index definitions of the open dataset, asked again after a change.
  // Also the definitions CreateTable adds to a new table.
  TIndexDefs& IndexDefs();
  void RefreshIndexDefs();
  // ";"-separated key fields selecting the active index; trimmed, clears
  // IndexName. Open: selected at once, restored when no index matches.
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(const std::string& names);
  // The active index by name; clears IndexFieldNames.
  const std::string& IndexName() const { return index_name_; }
  void SetIndexName(const std::string& name);

  // --- filter ----------------------------------------------------------------------
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& filter);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);

  // --- navigation (a pending edit is posted first) -------------------------------
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const;
  bool Bof() const;
  // Reads the current row again (another handle may have changed it).
  void Refresh();
  // Rows that pass the filter; -1 when the engine has no count.
  std::int64_t RecordCount() const;
  // Exact seek on the active index. When not found the cursor goes back to
  // the row it was on (the last row when it was past the end, the first
  // when it was before the start).
  bool FindKey(const std::vector<TVariant>& values);
  // Soft seek: the first row whose key is at or after the values.
  void FindNearest(const std::vector<TVariant>& values);
  // Restricts the rows to a key range of the active index.
  void SetRange(const std::vector<TVariant>& low, const std::vector<TVariant>& high);
  // Moves to the first row (in the current order) whose ";"-separated fields
  // equal the values; stays where it was when there is none.
  bool Locate(const std::string& fields, const std::vector<TVariant>& values, TLocateOptions options = {});

  // --- rows ----------------------------------------------------------------------
  void Append();
  void Edit();
  void Post();
  void Delete();
  void Cancel();

  // --- hooks -----------------------------------------------------------------------
  void SetBeforeOpen(THook hook) { before_open_ = std::move(hook); }
  void SetAfterOpen(THook hook) { after_open_ = std::move(hook); }
  void SetOnPostError(TPostErrorHook hook) { on_post_error_ = std::move(hook); }

 protected:
  explicit TDbDataSet(TComponent* owner);

  // Opens the engine handle of the dataset (a table or a statement's
  // cursor); raises and leaves nothing open on failure.
  virtual std::uint32_t OpenCursor() = 0;
  // After the handle, fields and indexes are there, before the filter and
  // the first row.
  virtual void CursorOpened() {}
  // Whether rows are changed without row locks.
  virtual bool OpenedExclusive() const { return false; }
  // Queries refuse every option change while open, tables only some.
  virtual bool AllOptionsFixedWhileOpen() const { return false; }
  // Frees a statement the dataset keeps on its connection.
  virtual void ReleaseStatement() {}
  // The connection has just connected.
  virtual void ConnectionConnected() {}
  // The connection the dataset was attached to is about to change.
  virtual void ConnectionChanging() {}

  void CheckInactive() const;
  void CheckActive() const;
  // Posts a pending edit that changed something, cancels any other.
  void CheckBrowseMode();
  // The attached connection; raises when there is none.
  TDbConnection& RequireConnection() const;

  std::uint32_t Handle() const { return handle_; }
  void SetCanModify(bool v) { can_modify_ = v; }
  // The dictionary's default index, used for IndexName "DB_DEFAULT".
  void SetDefaultIndexTag(const std::string& tag) { default_index_tag_ = tag; }
  void SetIndexNameOnly(const std::string& name) { index_name_ = name; }
  void SetIndexFieldNamesOnly(const std::string& names) { index_field_names_ = names; }
  void MarkIndexDefsStale() { index_defs_stale_ = true; }
  void MarkRowStale() { record_stale_ = true; }

 private:
  friend class TDbConnection;
  friend class TDbTableOptions;
  friend class TField;
  friend TDbErrorSource SourceOfDataSet(const TDbDataSet& ds);
  virtual std::string ErrorTableName() const { return {}; }

  void AttachTo(TDbConnection* connection);
  void InitCursor();
  void ReadFieldDefs();
  void BuildFields();
  void SelectIndex();
  void ChangeIndex(const std::string& field_names, const std::string& name);
  std::uint32_t Nav() const { return index_handle_ != 0 ? index_handle_ : handle_; }
  void ApplyFilter();
  void RemoveFilter();
  void ClearChanges();
  void CheckEditing() const;
  void RestorePosition(std::uint32_t record, bool was_eof, bool was_bof);
  std::uint32_t RequireActiveIndex() const;
  struct KeyBuffer;
  void BuildKeys(const std::vector<TVariant>& values, KeyBuffer* out) const;
  void WriteChangedFields();

  // Reading the current row.
  const std::vector<std::uint8_t>& CurrentRecord() const;
  std::string BlobValue(const TField& f) const;
  bool BlobIsEmpty(const TField& f) const;

  TDbConnection* connection_ = nullptr;
  std::string database_name_;
  TDbTableOptions options_{this};
  TDataSetState state_ = dsInactive;
  std::uint32_t handle_ = 0;
  bool can_modify_ = true;

  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::uint32_t record_length_ = 0;
  mutable std::vector<std::uint8_t> record_;
  mutable bool record_stale_ = true;

  TIndexDefs index_defs_;
  bool index_defs_stale_ = true;
  std::string index_field_names_;
  std::string index_name_;
  std::string default_index_tag_;
  std::uint32_t index_handle_ = 0;
  std::vector<std::string> index_key_fields_;

  std::string filter_;
  bool filtered_ = false;
  enum class FilterKind { None, Optimized, Plain } applied_filter_ = FilterKind::None;

  bool row_locked_ = false;
  std::uint32_t edit_record_ = 0;

  THook before_open_;
  THook after_open_;
  TPostErrorHook on_post_error_;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_DATASET_H_
