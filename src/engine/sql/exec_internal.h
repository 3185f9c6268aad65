// The executors of each statement kind, called by Execute().
#ifndef KX8_ENGINE_SQL_EXEC_INTERNAL_H_
#define KX8_ENGINE_SQL_EXEC_INTERNAL_H_

#include "sql/exec.h"

namespace dbe::sql {

ExecResult ExecAlter(const AlterTable& st, Connection* conn, const ExecSettings& s);
ExecResult ExecCreateIndex(const CreateIndex& st, Connection* conn, const ExecSettings& s);
ExecResult ExecDropIndex(const DropIndex& st, Connection* conn, const ExecSettings& s);
ExecResult ExecCreateTable(const CreateTable& st, Connection* conn);
ExecResult ExecDropTable(const DropTable& st, Connection* conn, const ExecSettings& s);
ExecResult ExecCreateProcedure(const CreateProcedure& st, Connection* conn);
ExecResult ExecUpdate(Update& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params);
ExecResult ExecDelete(Delete& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params);
ExecResult ExecInsert(Insert& st, Connection* conn, const ExecSettings& s, const std::vector<Value>& params);
ExecResult ExecSelect(const std::shared_ptr<Statement>& owner, Select& st, Connection* conn, const ExecSettings& s,
                      const std::vector<Value>& params);

}  // namespace dbe::sql

#endif  // KX8_ENGINE_SQL_EXEC_INTERNAL_H_
