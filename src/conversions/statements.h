// How the conversions run their one-off statements: the text set on the
// work query, the statement prepared, run and released; and the error block
// of the steps that show a failure and let the pass go on.
#ifndef KX8_CONVERSIONS_STATEMENTS_H_
#define KX8_CONVERSIONS_STATEMENTS_H_

#include <exception>
#include <string>

#include "dbaccess/db_query.h"
#include "schema/context.h"

namespace kx8::conversions {

// One statement; `ready` gives it what it needs (passwords, parameters)
// once its text is set.
template <typename Ready>
void RunStatement(dbaccess::TDbQuery& q, const char* sql, Ready ready) {
  q.SQL().Clear();
  q.SQL().Add(sql);
  ready(q);
  q.Prepare();
  q.ExecSQL();
  q.CloseStatement();
}

inline void RunStatement(dbaccess::TDbQuery& q, const char* sql) {
  RunStatement(q, sql, [](dbaccess::TDbQuery&) {});
}

// Runs `body`; a failure is shown as `prefix` followed by the error's text
// and goes no further.
template <typename Body>
void ShowingFailure(schema::UpgradeContext& ctx, const std::string& prefix, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(prefix + e.what(), "");
  }
}

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_STATEMENTS_H_
