#include "dbaccess/db_rewrite_deferral.h"

#include "dbaccess/db_connection.h"
#include "dbaccess/engine_call.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

TDbRewriteDeferral::TDbRewriteDeferral() { internal::Check(DbSetRewriteDeferral(1)); }

TDbRewriteDeferral::~TDbRewriteDeferral() {
  if (ended_) return;
  // Only on the way out of an error: that error is the one reported. A
  // table whose rewrite fails here is left as it was on disk (or complete
  // in its new form) and says so when it is next used; a dictionary whose
  // write fails is left as it was on disk, as a killed process leaves it.
  (void)DbSetRewriteDeferral(0);
}

void TDbRewriteDeferral::Apply() { internal::Check(DbApplyDeferredRewrites()); }

void TDbRewriteDeferral::ApplyTo(const TDbConnection& connection, const std::string& table) {
  internal::Check(DbApplyDeferredRewrite(connection.ConnectionHandle(), table.c_str()));
}

void TDbRewriteDeferral::End() {
  ended_ = true;
  internal::Check(DbSetRewriteDeferral(0));
}

}  // namespace kx8::dbaccess
