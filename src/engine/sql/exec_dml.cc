// UPDATE (also with FROM), DELETE and INSERT.
#include <unordered_map>

#include "core/error.h"
#include "core/text.h"
#include "expr/convert.h"
#include "sql/exec_internal.h"
#include "storage/record_codec.h"

namespace dbe::sql {
namespace {

// Opens the table a statement changes: exclusively when nobody else has it
// (no row locks needed), else shared.
std::unique_ptr<StatementTable> OpenTarget(Connection* conn, const TableRef& ref, const ExecSettings& s) {
  try {
    return std::make_unique<StatementTable>(conn, ref, DBE_OPEN_EXCLUSIVE, s);
  } catch (const Error& e) {
    if (e.code() != DBE_TABLE_IN_USE) throw;
  }
  return std::make_unique<StatementTable>(conn, ref, DBE_OPEN_SHARED, s);
}

void Bind(expr::Node* node, const expr::ColumnResolver& r) {
  if (node != nullptr) expr::Bind(*node, r, DBE_SQL_ERROR);
}

// Stores a computed value into the row being written.
void Assign(StatementTable& t, uint32_t field, const Value& v, uint8_t* rec, PendingBlobs* blobs) {
  const Field& f = t.layout().fields[field];
  if (IsBlobType(f.type)) {
    if (v.is_null()) (*blobs)[field] = std::nullopt;
    else if (v.kind == ValueKind::String || v.kind == ValueKind::Binary) (*blobs)[field] = v.s;
    else (*blobs)[field] = expr::ToText(v);
    return;
  }
  WriteFieldValue(f, field, rec, v, t.file().file_name());
}

// Writes a changed row, holding its row lock while doing so.
void WriteRow(StatementTable& t, uint32_t r, uint8_t* rec, const PendingBlobs& blobs) {
  TableFile& f = t.file();
  if (!f.LockRecord(r, t.handle())) {
    SqlFail(DBE_RECORD_LOCKED, "Row " + std::to_string(r) + " is locked by another user. File: " + f.file_name());
  }
  try {
    f.Update(r, rec, blobs, t.key());
  } catch (...) {
    f.UnlockRecord(r, t.handle());
    throw;
  }
  f.UnlockRecord(r, t.handle());
}

// Finds "a.x = b.y" among the AND-ed conditions of a WHERE, with one side a
// column of the target (table 0) and the other of table 1.
bool FindJoinColumns(const expr::Node* n, int* target_col, int* other_col) {
  if (n == nullptr) return false;
  if (n->kind == expr::NodeKind::And) {
    return FindJoinColumns(n->args[0].get(), target_col, other_col) ||
           FindJoinColumns(n->args[1].get(), target_col, other_col);
  }
  if (n->kind != expr::NodeKind::Compare || n->op != expr::Op::Eq) return false;
  const expr::Node* a = n->args[0].get();
  const expr::Node* b = n->args[1].get();
  if (a->kind != expr::NodeKind::Column || b->kind != expr::NodeKind::Column) return false;
  int ta = a->column_id / 10000, tb = b->column_id / 10000;
  if (ta == 0 && tb == 1) {
    *target_col = a->column_id;
    *other_col = b->column_id;
    return true;
  }
  if (ta == 1 && tb == 0) {
    *target_col = b->column_id;
    *other_col = a->column_id;
    return true;
  }
  return false;
}

}  // namespace

ExecResult ExecUpdate(Update& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params) {
  auto target = OpenTarget(conn, st.table, s);
  std::vector<std::unique_ptr<StatementTable>> others;
  std::vector<StatementTable*> tables{target.get()};
  for (const TableRef& ref : st.from) {
    if (ref.alias.empty() && target->Answers(ref.name)) continue;  // FROM naming the target itself
    others.push_back(std::make_unique<StatementTable>(conn, ref, DBE_OPEN_SHARED | DBE_OPEN_READONLY, s));
    tables.push_back(others.back().get());
  }
  TablesResolver resolver(tables);
  Bind(st.where.get(), resolver);
  std::vector<uint32_t> targets;
  for (Assignment& a : st.sets) {
    int f = target->layout().Find(a.column);
    if (f < 0) {
      SqlFail(DBE_COLUMN_NOT_FOUND, "There is no column \"" + a.column + "\". File: " + target->file().file_name());
    }
    targets.push_back(static_cast<uint32_t>(f));
    Bind(a.value.get(), resolver);
  }
  TablesRow row(tables, &params);
  ExecResult result;
  std::vector<uint8_t> out;
  std::vector<Value> values(st.sets.size());
  auto apply = [&](uint32_t r, const uint8_t* rec) {
    for (size_t i = 0; i < st.sets.size(); ++i) values[i] = expr::Evaluate(*st.sets[i].value, row);
    out.assign(rec, rec + target->layout().record_length);
    PendingBlobs blobs;
    for (size_t i = 0; i < st.sets.size(); ++i) Assign(*target, targets[i], values[i], out.data(), &blobs);
    WriteRow(*target, r, out.data(), blobs);
    ++result.rows_affected;
  };
  auto matches = [&]() { return st.where == nullptr || expr::IsTrue(expr::Evaluate(*st.where, row)); };

  if (others.empty()) {
    ForEachRow(*target, [&](uint32_t r, const uint8_t* rec) {
      row.Set(0, rec);
      if (matches()) apply(r, rec);
    });
    return result;
  }
  // Joined update: every target row takes the first row of the other table
  // that satisfies the WHERE. An equality between the two tables is looked
  // up through a hash of the other table; without one, rows are compared in pairs.
  StatementTable& other = *others[0];
  std::vector<uint8_t> other_rec(other.layout().record_length);
  int target_col = -1, other_col = -1;
  bool hashed = others.size() == 1 && FindJoinColumns(st.where.get(), &target_col, &other_col);
  std::unordered_map<std::string, std::vector<uint32_t>> hash;
  std::vector<uint32_t> all_rows;
  if (hashed) {
    TablesRow probe({target.get(), &other}, &params);
    ForEachRow(other, [&](uint32_t r, const uint8_t* rec) {
      probe.Set(1, rec);
      Value v = probe.Column(other_col);
      if (v.is_null()) return;
      hash[GroupKey(v)].push_back(r);
    });
  } else {
    ForEachRow(other, [&](uint32_t r, const uint8_t*) { all_rows.push_back(r); });
  }
  ForEachRow(*target, [&](uint32_t r, const uint8_t* rec) {
    row.Set(0, rec);
    const std::vector<uint32_t>* candidates = &all_rows;
    if (hashed) {
      Value v = row.Column(target_col);
      if (v.is_null()) return;
      auto it = hash.find(GroupKey(v));
      if (it == hash.end()) return;
      candidates = &it->second;
    }
    for (uint32_t o : *candidates) {
      other.file().ReadRecord(o, other.key(), other_rec.data());
      row.Set(1, other_rec.data());
      if (matches()) {
        apply(r, rec);
        break;
      }
    }
  });
  return result;
}

ExecResult ExecDelete(Delete& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params) {
  auto target = OpenTarget(conn, st.table, s);
  TablesResolver resolver({target.get()});
  Bind(st.where.get(), resolver);
  TablesRow row({target.get()}, &params);
  ExecResult result;
  TableFile& f = target->file();
  ForEachRow(*target, [&](uint32_t r, const uint8_t* rec) {
    row.Set(0, rec);
    if (st.where != nullptr && !expr::IsTrue(expr::Evaluate(*st.where, row))) return;
    if (f.IsLockedByOther(r, target->handle()) || !f.LockRecord(r, target->handle())) {
      SqlFail(DBE_RECORD_LOCKED, "Row " + std::to_string(r) + " is locked by another user. File: " + f.file_name());
    }
    f.Delete(r, target->key());
    f.UnlockRecord(r, target->handle());
    ++result.rows_affected;
  });
  return result;
}

std::vector<std::vector<Value>> SelectRows(Select& st, Connection* conn, const ExecSettings& s,
                                           const std::vector<Value>& params);

ExecResult ExecInsert(Insert& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params) {
  auto target = OpenTarget(conn, st.table, s);
  const Layout& layout = target->layout();
  std::vector<uint32_t> fields;
  if (st.columns.empty()) {
    for (uint32_t i = 0; i < layout.fields.size(); ++i) fields.push_back(i);
  } else {
    for (const std::string& c : st.columns) {
      int f = layout.Find(c);
      if (f < 0) SqlFail(DBE_COLUMN_NOT_FOUND, "There is no column \"" + c + "\". File: " + target->file().file_name());
      fields.push_back(static_cast<uint32_t>(f));
    }
  }
  std::vector<std::vector<Value>> rows;
  if (st.select) {
    rows = SelectRows(*st.select, conn, s, params);
  } else {
    TablesResolver none({});
    TablesRow row({}, &params);
    for (auto& exprs : st.rows) {
      std::vector<Value> values;
      for (auto& e : exprs) {
        expr::Bind(*e, none, DBE_SQL_ERROR);
        values.push_back(expr::Evaluate(*e, row));
      }
      rows.push_back(std::move(values));
    }
  }
  ExecResult result;
  TableCursor& cur = target->cursor();
  for (const auto& values : rows) {
    if (values.size() != fields.size()) {
      SqlFail(kNativeTypeMismatch, "INSERT gives " + std::to_string(values.size()) + " values for " +
                                       std::to_string(fields.size()) + " columns.");
    }
    cur.Append();
    for (size_t i = 0; i < fields.size(); ++i) {
      const Field& f = layout.fields[fields[i]];
      if (IsBlobType(f.type)) {
        if (values[i].is_null()) cur.SetBlob(fields[i], std::nullopt);
        else cur.SetBlob(fields[i], values[i].kind == ValueKind::String || values[i].kind == ValueKind::Binary
                                        ? values[i].s : expr::ToText(values[i]));
      } else {
        WriteFieldValue(f, fields[i], cur.EditBuffer(), values[i], target->file().file_name());
      }
    }
    try {
      cur.Write();
    } catch (...) {
      cur.Cancel();
      throw;
    }
    ++result.rows_affected;
  }
  return result;
}

}  // namespace dbe::sql
