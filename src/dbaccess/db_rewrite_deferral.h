// Deferred table rewrites for a stretch of work that changes tables many
// times over (the column runs of an upgrade pass): every restructure, pack,
// encryption and decryption is checked and answered at once and every
// dataset sees the table as changed, while the table's files are rewritten
// once, for all of its changes, when its rows are next read or written, at
// Apply(), or at the end. Data dictionary changes meanwhile are seen at
// once through every component of the process and written once for many:
// before a table's files are rewritten or deleted, at Apply(), or at the
// end; a dictionary with changes waiting stays locked against other
// programs.
#ifndef KX8_DBACCESS_DB_REWRITE_DEFERRAL_H_
#define KX8_DBACCESS_DB_REWRITE_DEFERRAL_H_

#include <string>

namespace kx8::dbaccess {

class TDbConnection;

class TDbRewriteDeferral {
 public:
  // Starts deferring (process-wide: one deferral at a time).
  TDbRewriteDeferral();
  // Without End(), as when an error is on its way out: deferral stops and
  // what waits is rewritten as well as it can be.
  ~TDbRewriteDeferral();
  TDbRewriteDeferral(const TDbRewriteDeferral&) = delete;
  TDbRewriteDeferral& operator=(const TDbRewriteDeferral&) = delete;

  // Writes the dictionaries' waiting changes, then rewrites every table
  // with changes waiting, before work that reaches table or dictionary
  // files other than through the engine. Raises EDbEngineError for the
  // first failure (a dictionary whose write failed is as its file held it,
  // its waiting changes dropped; a table's files are as they were, or
  // complete in their new form).
  void Apply();
  // Rewrites only the table named on the connected connection (as a
  // dataset of it opens the name) when changes wait for it, deferral on or
  // not: before work on that table's files, such as its .BAK set. Raises as
  // Apply() does.
  static void ApplyTo(const TDbConnection& connection, const std::string& table);
  // Applies what waits and stops deferring. Raises as Apply() does;
  // deferral has stopped all the same.
  void End();

 private:
  bool ended_ = false;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_REWRITE_DEFERRAL_H_
