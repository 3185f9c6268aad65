// SELECT: a live cursor over one table, or a static result computed in full
// (joins by WHERE, DISTINCT, aggregates, GROUP BY, HAVING, ORDER BY) and held
// in a temporary table that the cursor reads.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unistd.h>
#include <unordered_set>

#include "api/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "expr/convert.h"
#include "expr/operators.h"
#include "sql/exec_internal.h"
#include "storage/record_codec.h"

namespace dbe::sql {
namespace {

struct ResultColumn {
  std::string name;
  const expr::Node* node = nullptr;
  std::optional<Field> source;     // the declared field when the item is a bare column
};

struct Accumulator {
  expr::Node* node = nullptr;
  Value sum;
  int64_t count = 0;
  bool any = false;
  Value best;
  std::unordered_set<std::string> seen;
};

struct Group {
  std::vector<std::vector<uint8_t>> recs;  // the group's first row of each table
  std::vector<Accumulator> acc;
  std::vector<Value> keys;                 // GROUP BY values, for ordering
};

void CollectAggregates(expr::Node* n, std::vector<expr::Node*>* out) {
  if (n == nullptr) return;
  if (n->kind == expr::NodeKind::Function &&
      (n->func == expr::Func::Count || n->func == expr::Func::Sum || n->func == expr::Func::Avg ||
       n->func == expr::Func::Min || n->func == expr::Func::Max)) {
    for (auto& a : n->args) {
      if (a && expr::ContainsAggregate(*a)) {
        SqlFail(kNativeNotSupported, "An aggregate function cannot contain another one.");
      }
    }
    out->push_back(n);
    return;
  }
  for (auto& a : n->args) CollectAggregates(a.get(), out);
}

void Accumulate(Accumulator& a, const expr::RowAccess& row) {
  expr::Node& n = *a.node;
  if (n.star) {
    ++a.count;
    return;
  }
  Value v = expr::Evaluate(*n.args[0], row);
  if (v.is_null() || (v.kind == ValueKind::String && TrimRightBlanks(v.s).empty())) return;
  if (n.distinct && !a.seen.insert(GroupKey(v)).second) return;
  ++a.count;
  switch (n.func) {
    case expr::Func::Sum: case expr::Func::Avg:
      a.sum = a.any ? expr::Arithmetic(expr::Op::Add, a.sum, v, n) : v;
      break;
    case expr::Func::Min:
      if (!a.any || CompareValues(v, a.best) < 0) a.best = v;
      break;
    case expr::Func::Max:
      if (!a.any || CompareValues(v, a.best) > 0) a.best = v;
      break;
    default:
      break;
  }
  a.any = true;
}

Value Final(const Accumulator& a) {
  switch (a.node->func) {
    case expr::Func::Count: return Value::Int(a.count);
    case expr::Func::Sum: return a.any ? a.sum : Value::Null();
    case expr::Func::Min: case expr::Func::Max: return a.any ? a.best : Value::Null();
    case expr::Func::Avg:
      if (!a.any) return Value::Null();
      if (a.sum.kind == ValueKind::Money) return expr::Arithmetic(expr::Op::Div, a.sum, Value::Int(a.count), *a.node);
      if (a.sum.kind == ValueKind::Int) return Value::Double(double(a.sum.i) / double(a.count));
      if (a.sum.kind == ValueKind::Double) return Value::Double(a.sum.d / double(a.count));
      SqlFail(kNativeTypeMismatch, "AVG needs numbers.");
    default: return Value::Null();
  }
}

// Evaluates a tree with its aggregate calls replaced by their results.
Value EvaluateWithAggregates(expr::Node& n, std::vector<Accumulator>& acc, const expr::RowAccess& row) {
  std::vector<expr::NodeKind> saved;
  for (Accumulator& a : acc) {
    saved.push_back(a.node->kind);
    expr::SetLiteral(*a.node, Final(a));
    a.node->kind = expr::NodeKind::Literal;
  }
  Value v;
  try {
    v = expr::Evaluate(n, row);
  } catch (...) {
    for (size_t i = 0; i < acc.size(); ++i) acc[i].node->kind = saved[i];
    throw;
  }
  for (size_t i = 0; i < acc.size(); ++i) acc[i].node->kind = saved[i];
  return v;
}

std::string RowKey(const std::vector<Value>& values) {
  std::string k;
  for (const Value& v : values) k += GroupKey(v) + '\x1f';
  return k;
}

// The folder for static results: kept in memory where the system offers a
// memory file system, so that rows read from encrypted tables are not
// written to disk in the clear.
const std::string& ResultFolder() {
  static const std::string folder = [] {
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) {
      const char* t = std::getenv("TMPDIR");
      base = t != nullptr && *t != '\0' ? t : "/tmp";
    }
    std::string tmpl = base + "/kx8-results-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) Fail(DBE_IO_ERROR, "Error 5065: No folder for query results in " + base);
    std::string dir = std::string(buf.data()) + "/";
    static std::string to_remove = dir;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(to_remove, ec);
    });
    return dir;
  }();
  return folder;
}

Field ResultField(const ResultColumn& c, const std::vector<std::vector<Value>>& rows, size_t col) {
  Field f;
  f.name = c.name;
  if (c.source) {
    f.type = c.source->type;
    f.length = c.source->length;
    f.decimals = c.source->decimals;
    if (f.type == DBE_FT_AUTOINC) f.type = DBE_FT_INTEGER;
    if (f.type == DBE_FT_ROWVERSION) f.type = DBE_FT_DOUBLE;
    if (f.type == DBE_FT_MODTIME) f.type = DBE_FT_TIMESTAMP;
    return f;
  }
  ValueKind kind = ValueKind::Null;
  size_t longest = 1;
  bool wide_int = false;
  for (const auto& r : rows) {
    const Value& v = r[col];
    if (v.is_null()) continue;
    if (v.kind == ValueKind::String || v.kind == ValueKind::Binary) longest = std::max(longest, v.s.size());
    if (v.kind == ValueKind::Int && (v.i > INT32_MAX || v.i < INT32_MIN)) wide_int = true;
    if (kind == ValueKind::Null) {
      kind = v.kind;
    } else if (kind != v.kind) {
      bool num_a = kind == ValueKind::Int || kind == ValueKind::Money || kind == ValueKind::Double;
      bool num_b = v.kind == ValueKind::Int || v.kind == ValueKind::Money || v.kind == ValueKind::Double;
      if (num_a && num_b) kind = (kind == ValueKind::Double || v.kind == ValueKind::Double) ? ValueKind::Double : ValueKind::Money;
      else kind = ValueKind::String;
    }
  }
  switch (kind) {
    case ValueKind::Bool: f.type = DBE_FT_LOGICAL; break;
    case ValueKind::Int: f.type = wide_int ? DBE_FT_DOUBLE : DBE_FT_INTEGER; break;
    case ValueKind::Double: f.type = DBE_FT_DOUBLE; break;
    case ValueKind::Money: f.type = DBE_FT_MONEY; break;
    case ValueKind::Date: f.type = DBE_FT_DATE; break;
    case ValueKind::Time: f.type = DBE_FT_TIME; break;
    case ValueKind::Timestamp: f.type = DBE_FT_TIMESTAMP; break;
    case ValueKind::Binary: f.type = DBE_FT_BINARY; break;
    default:
      if (longest > kMaxCharLength) {
        f.type = DBE_FT_MEMO;
      } else {
        f.type = DBE_FT_STRING;
        f.length = static_cast<uint32_t>(longest);
      }
      break;
  }
  return f;
}

struct SelectRun {
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Value>> rows;
};

SelectRun RunSelect(Select& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params) {
  std::vector<std::unique_ptr<StatementTable>> owned;
  std::vector<StatementTable*> tables;
  for (const TableRef& ref : st.from) {
    owned.push_back(std::make_unique<StatementTable>(conn, ref, DBE_OPEN_SHARED | DBE_OPEN_READONLY, s));
    tables.push_back(owned.back().get());
  }
  TablesResolver resolver(tables);
  // Expand the select list; stars become column references.
  std::vector<expr::NodePtr> star_nodes;
  SelectRun run;
  std::vector<expr::Node*> item_nodes;
  for (SelectItem& item : st.items) {
    if (!item.star) {
      expr::Bind(*item.expr, resolver, DBE_SQL_ERROR);
      ResultColumn c;
      c.node = item.expr.get();
      if (!item.alias.empty()) c.name = item.alias;
      else if (item.expr->kind == expr::NodeKind::Column) c.name = item.expr->name;
      if (item.expr->kind == expr::NodeKind::Column) {
        int id = item.expr->column_id;
        c.source = tables[static_cast<size_t>(id / 10000)]->layout().fields[static_cast<size_t>(id % 10000)];
      }
      run.columns.push_back(c);
      item_nodes.push_back(item.expr.get());
      continue;
    }
    bool matched = false;
    for (size_t t = 0; t < tables.size(); ++t) {
      if (!item.star_qualifier.empty() && !tables[t]->Answers(item.star_qualifier)) continue;
      matched = true;
      const Layout& l = tables[t]->layout();
      for (size_t f = 0; f < l.fields.size(); ++f) {
        auto node = expr::MakeNode(expr::NodeKind::Column, 0, DBE_SQL_ERROR);
        node->name = l.fields[f].name;
        node->column_id = static_cast<int>(t * 10000 + f);
        ResultColumn c;
        c.name = l.fields[f].name;
        c.node = node.get();
        c.source = l.fields[f];
        run.columns.push_back(c);
        item_nodes.push_back(node.get());
        star_nodes.push_back(std::move(node));
      }
    }
    if (!matched) SqlFail(DBE_FILE_NOT_FOUND, "No table " + item.star_qualifier + " in the FROM list.");
  }
  // Unique column names for the result table.
  for (size_t i = 0; i < run.columns.size(); ++i) {
    std::string base = run.columns[i].name.empty() ? "EXPR" : run.columns[i].name;
    if (base.size() > 56) base.resize(56);
    std::string name = base;
    for (int n = 1;; ++n) {
      bool taken = false;
      for (size_t j = 0; j < i; ++j) taken = taken || EqualsIgnoreCase(run.columns[j].name, name);
      if (!taken) break;
      name = base + "_" + std::to_string(n);
    }
    run.columns[i].name = name;
  }
  if (st.where) expr::Bind(*st.where, resolver, DBE_SQL_ERROR);
  for (auto& g : st.group_by) expr::Bind(*g, resolver, DBE_SQL_ERROR);
  if (st.having) expr::Bind(*st.having, resolver, DBE_SQL_ERROR);
  // ORDER BY may name a result column (by alias or position) or an expression.
  std::vector<int> order_column(st.order_by.size(), -1);
  for (size_t i = 0; i < st.order_by.size(); ++i) {
    expr::Node& e = *st.order_by[i].expr;
    if (e.kind == expr::NodeKind::Literal && e.value.kind == ValueKind::Int) {
      if (e.value.i < 1 || static_cast<size_t>(e.value.i) > run.columns.size()) {
        SqlFail(kNativeTypeMismatch, "ORDER BY position " + std::to_string(e.value.i) + " is not in the select list.");
      }
      order_column[i] = static_cast<int>(e.value.i - 1);
      continue;
    }
    // An unqualified name that names a result column means that column, even
    // when a table has a column of the same name.
    if (e.kind == expr::NodeKind::Column && e.qualifier.empty()) {
      for (size_t c = 0; c < run.columns.size() && order_column[i] < 0; ++c) {
        if (EqualsIgnoreCase(run.columns[c].name, e.name)) order_column[i] = static_cast<int>(c);
      }
    }
    if (order_column[i] < 0) expr::Bind(e, resolver, DBE_SQL_ERROR);
  }

  std::vector<expr::Node*> aggregates;
  for (expr::Node* n : item_nodes) CollectAggregates(n, &aggregates);
  CollectAggregates(st.having.get(), &aggregates);
  for (size_t i = 0; i < st.order_by.size(); ++i) {
    if (order_column[i] < 0) CollectAggregates(st.order_by[i].expr.get(), &aggregates);
  }
  bool grouped = !aggregates.empty() || !st.group_by.empty() || st.having != nullptr;

  TablesRow row(tables, &params);
  std::vector<std::vector<Value>> order_keys;
  auto emit = [&](std::vector<Accumulator>* acc) {
    std::vector<Value> values;
    for (expr::Node* n : item_nodes) values.push_back(acc ? EvaluateWithAggregates(*n, *acc, row) : expr::Evaluate(*n, row));
    std::vector<Value> keys;
    for (size_t i = 0; i < st.order_by.size(); ++i) {
      if (order_column[i] >= 0) keys.push_back(values[static_cast<size_t>(order_column[i])]);
      else keys.push_back(acc ? EvaluateWithAggregates(*st.order_by[i].expr, *acc, row) : expr::Evaluate(*st.order_by[i].expr, row));
    }
    run.rows.push_back(std::move(values));
    order_keys.push_back(std::move(keys));
  };

  std::vector<Group> groups;
  std::unordered_map<std::string, size_t> group_index;
  std::vector<std::vector<uint8_t>> current(tables.size());
  auto on_row = [&]() {
    if (st.where && !expr::IsTrue(expr::Evaluate(*st.where, row))) return;
    if (!grouped) return emit(nullptr);
    std::vector<Value> keys;
    for (auto& g : st.group_by) keys.push_back(expr::Evaluate(*g, row));
    std::string k = RowKey(keys);
    auto it = group_index.find(k);
    if (it == group_index.end()) {
      Group g;
      g.recs = current;
      g.keys = keys;
      for (expr::Node* a : aggregates) {
        Accumulator acc;
        acc.node = a;
        g.acc.push_back(std::move(acc));
      }
      it = group_index.emplace(k, groups.size()).first;
      groups.push_back(std::move(g));
    }
    for (Accumulator& a : groups[it->second].acc) Accumulate(a, row);
  };
  // Rows of every combination of the FROM tables (joins are by WHERE).
  std::function<void(size_t)> walk = [&](size_t t) {
    if (t == tables.size()) return on_row();
    ForEachRow(*tables[t], [&](uint32_t, const uint8_t* rec) {
      current[t].assign(rec, rec + tables[t]->layout().record_length);
      row.Set(t, current[t].data());
      walk(t + 1);
    });
  };
  walk(0);

  if (grouped) {
    if (groups.empty() && st.group_by.empty()) {
      Group g;
      for (size_t t = 0; t < tables.size(); ++t) g.recs.push_back({});
      for (expr::Node* a : aggregates) {
        Accumulator acc;
        acc.node = a;
        g.acc.push_back(std::move(acc));
      }
      groups.push_back(std::move(g));
    }
    if (st.order_by.empty()) {
      std::stable_sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
        for (size_t i = 0; i < a.keys.size(); ++i) {
          int c = CompareValues(a.keys[i], b.keys[i]);
          if (c != 0) return c < 0;
        }
        return false;
      });
    }
    for (Group& g : groups) {
      for (size_t t = 0; t < tables.size(); ++t) row.Set(t, g.recs[t].empty() ? nullptr : g.recs[t].data());
      if (st.having && !expr::IsTrue(EvaluateWithAggregates(*st.having, g.acc, row))) continue;
      emit(&g.acc);
    }
  }

  std::vector<size_t> order(run.rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (st.distinct) {
    std::unordered_set<std::string> seen;
    std::vector<size_t> kept;
    for (size_t i : order) {
      if (seen.insert(RowKey(run.rows[i])).second) kept.push_back(i);
    }
    order = std::move(kept);
    if (st.order_by.empty()) {
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        for (size_t c = 0; c < run.columns.size(); ++c) {
          int r = CompareValues(run.rows[a][c], run.rows[b][c]);
          if (r != 0) return r < 0;
        }
        return false;
      });
    }
  }
  if (!st.order_by.empty()) {
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      for (size_t k = 0; k < st.order_by.size(); ++k) {
        int r = CompareValues(order_keys[a][k], order_keys[b][k]);
        if (r != 0) return st.order_by[k].descending ? r > 0 : r < 0;
      }
      return false;
    });
  }
  std::vector<std::vector<Value>> sorted;
  sorted.reserve(order.size());
  for (size_t i : order) sorted.push_back(std::move(run.rows[i]));
  run.rows = std::move(sorted);
  return run;
}

bool IsLiveCandidate(const Select& st) {
  if (st.distinct || st.from.size() != 1 || !st.group_by.empty() || st.having || !st.order_by.empty()) return false;
  if (st.items.size() != 1 || !st.items[0].star) return false;
  return true;
}

}  // namespace

std::vector<std::vector<Value>> SelectRows(Select& st, Connection* conn, const ExecSettings& s,
                                           const std::vector<Value>& params) {
  return RunSelect(st, conn, s, params).rows;
}

ExecResult ExecSelect(const std::shared_ptr<Statement>& owner, Select& st, Connection* conn, const ExecSettings& s,
                      const std::vector<Value>& params) {
  ExecResult result;
  if (s.read_only == 2 && IsLiveCandidate(st)) {
    StatementTable t(conn, st.from[0], DBE_OPEN_SHARED, s);
    if (st.where) {
      TablesResolver resolver({&t});
      expr::Bind(*st.where, resolver, DBE_SQL_ERROR);
      t.cursor().SetFilterNode(std::shared_ptr<expr::Node>(owner, st.where.get()), params);
    }
    t.cursor().MarkStatementCursor(true);
    t.cursor().GotoTop(nullptr);
    result.cursor = t.Release();
    result.live = true;
    return result;
  }
  std::vector<Field> fields;
  std::vector<std::vector<Value>> rows;
  {
    SelectRun run = RunSelect(st, conn, s, params);
    rows = std::move(run.rows);
    for (size_t c = 0; c < run.columns.size(); ++c) fields.push_back(ResultField(run.columns[c], rows, c));
  }
  Layout layout;
  layout.fields = fields;
  layout.Finish();
  static std::atomic<uint64_t> counter{0};
  std::string path = ResultFolder() + "R" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + ".KDT";
  TableFile::Create(path, layout);
  DBHANDLE h = OpenCursor(conn, path, DBE_OPEN_EXCLUSIVE);
  auto* cur = LookupAs<TableCursor>(h, DBE_HANDLE_TABLE);
  try {
    for (const auto& values : rows) {
      cur->Append();
      for (uint32_t i = 0; i < values.size(); ++i) {
        const Field& f = layout.fields[i];
        if (IsBlobType(f.type)) {
          if (!values[i].is_null()) {
            cur->SetBlob(i, values[i].kind == ValueKind::String || values[i].kind == ValueKind::Binary
                                ? values[i].s : expr::ToText(values[i]));
          }
        } else {
          try {
            WriteFieldValue(f, i, cur->EditBuffer(), values[i], path);
          } catch (const Error&) {
            WriteFieldEmpty(f, i, cur->EditBuffer());
          }
        }
      }
      cur->Write();
    }
  } catch (...) {
    cur->MarkStaticResult();
    CloseCursor(cur);
    throw;
  }
  cur->MarkStaticResult();
  cur->MarkStatementCursor(false);
  cur->GotoTop(nullptr);
  result.cursor = h;
  result.live = false;
  return result;
}

}  // namespace dbe::sql
