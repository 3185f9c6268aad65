#include "core/error.h"
#include "sql/exec_internal.h"

namespace dbe::sql {

ExecResult Execute(const std::shared_ptr<Statement>& st, Connection* conn, const ExecSettings& s,
                   const std::vector<Value>& params) {
  try {
    return std::visit(
        [&](auto& body) -> ExecResult {
          using T = std::decay_t<decltype(body)>;
          if constexpr (std::is_same_v<T, AlterTable>) return ExecAlter(body, conn, s);
          else if constexpr (std::is_same_v<T, CreateIndex>) return ExecCreateIndex(body, conn, s);
          else if constexpr (std::is_same_v<T, DropIndex>) return ExecDropIndex(body, conn, s);
          else if constexpr (std::is_same_v<T, Select>) return ExecSelect(st, body, conn, s, params);
          else if constexpr (std::is_same_v<T, Update>) return ExecUpdate(body, conn, s, params);
          else if constexpr (std::is_same_v<T, Delete>) return ExecDelete(body, conn, s, params);
          else if constexpr (std::is_same_v<T, Insert>) return ExecInsert(body, conn, s, params);
          else if constexpr (std::is_same_v<T, CreateTable>) return ExecCreateTable(body, conn);
          else if constexpr (std::is_same_v<T, DropTable>) return ExecDropTable(body, conn, s);
          else return ExecCreateProcedure(body, conn);
        },
        st->body);
  } catch (const Error& e) {
    throw AsSqlError(e);
  }
}

}  // namespace dbe::sql
