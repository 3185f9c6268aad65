// Grouped flushing. Normally every table rewrite and dictionary change
// flushes its files and folder as it goes, so each one survives a power cut
// on its own. A caller that has a way back of its own (an upgrade pass with
// a checked backup of the company and a marker that says the pass began)
// may group them instead: while grouping is on, a flush of a file or a
// folder only records the folder, and SyncBarrier() flushes the file system
// of every recorded folder at once (syncfs: the data, the names and the
// renames of everything written there).
//
// Grouping changes nothing against a killed process: the page cache keeps
// every write, and each rewrite still switches its files by one marker and
// renames, complete before the switch. It only moves the point up to which
// a power cut may lose writes: to the next barrier.
#ifndef KX8_ENGINE_OS_SYNC_GROUP_H_
#define KX8_ENGINE_OS_SYNC_GROUP_H_

#include <cstdint>
#include <string>

namespace dbe::os {

// Turning grouping off does not flush: call SyncBarrier() first. Folders
// recorded and not yet flushed stay recorded for the next barrier.
void SetSyncGrouped(bool grouped);
bool SyncGrouped();
// Records the folder holding path for the next barrier; true when grouping
// is on (the caller then leaves out its own flush).
bool DeferSyncOf(const std::string& path);
bool DeferSyncOfFolder(const std::string& folder);
// Flushes the file system of each recorded folder. A folder whose flush
// fails stays recorded, and the failure is raised naming it.
void SyncBarrier();

// Writes made in place (rows changed through a table's mapping) have no
// flush of their own: they become durable with the next flush of their
// file system, which grouping must then owe. A writer notes its folder once
// per period between barriers: NotePeriod() is 0 while grouping is off and
// otherwise changes at every barrier, so a writer that kept the value it
// saw when it last called DeferSyncOf() needs to call it again only when
// the value differs.
uint64_t NotePeriod();

}  // namespace dbe::os

#endif  // KX8_ENGINE_OS_SYNC_GROUP_H_
