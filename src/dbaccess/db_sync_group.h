// Grouped flushing of the engine's writes for a stretch of work that has a
// way back of its own (an upgrade pass with a checked backup and a marker
// saying the pass began): rewrites and dictionary changes stay atomic
// against a killed process, and are made durable together by Barrier()
// rather than one by one.
#ifndef KX8_DBACCESS_DB_SYNC_GROUP_H_
#define KX8_DBACCESS_DB_SYNC_GROUP_H_

namespace kx8::dbaccess {

class TDbSyncGroup {
 public:
  // Starts grouping (process-wide: one group at a time).
  TDbSyncGroup();
  // Without End(), as when an error is on its way out: grouping stops and
  // what was written is flushed as well as it can be.
  ~TDbSyncGroup();
  TDbSyncGroup(const TDbSyncGroup&) = delete;
  TDbSyncGroup& operator=(const TDbSyncGroup&) = delete;

  // Whether a group is on (process-wide): writes of the caller's own that
  // the group's way back covers may then leave their flushing to the
  // group's barrier.
  static bool Active();
  // Makes everything written so far durable. Raises EDbEngineError naming
  // a folder whose flush failed.
  void Barrier();
  // A last barrier, and grouping stops. Raises as Barrier() does; grouping
  // has stopped all the same.
  void End();

 private:
  bool ended_ = false;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_SYNC_GROUP_H_
