#include "dbaccess/db_sync_group.h"

#include <cstdint>

#include "dbaccess/engine_call.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

TDbSyncGroup::TDbSyncGroup() { internal::Check(DbSetSyncGrouping(1)); }

TDbSyncGroup::~TDbSyncGroup() {
  if (ended_) return;
  // Only on the way out of an error: that error is the one reported, and
  // the work this group covered has its own way back (see the header). A
  // failed flush here stays owed to the engine's next barrier.
  (void)DbSetSyncGrouping(0);
}

bool TDbSyncGroup::Active() {
  std::uint16_t grouped = 0;
  internal::Check(DbGetSyncGrouping(&grouped));
  return grouped != 0;
}

void TDbSyncGroup::Barrier() { internal::Check(DbSyncBarrier()); }

void TDbSyncGroup::End() {
  ended_ = true;
  internal::Check(DbSetSyncGrouping(0));
}

}  // namespace kx8::dbaccess
