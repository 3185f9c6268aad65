#include "storage/header_counts.h"

#include <cstring>

#include "storage/bytes.h"
#include "storage/checksum.h"

namespace dbe {
namespace {

using namespace format;

using counts_detail::CurrentCopy;
using counts_detail::LoadCounter;
using counts_detail::kCopyRows;
using counts_detail::kV1Counter;
using counts_detail::kV1Rows;

// Version 1 offsets.
constexpr size_t kV1Deleted = 268, kV1AutoInc = 272, kV1RowVersion = 280;
// Within a version 2 copy.
constexpr size_t kCopyCounter = 0, kCopyDeleted = 12, kCopyAutoInc = 16, kCopyRowVersion = 24, kCopyCrc = 32,
                 kCopyChecked = 32;

const uint8_t* Copy(const uint8_t* header, uint64_t index) { return header + kOffCounts + index * kCountsCopySize; }
uint8_t* Copy(uint8_t* header, uint64_t index) { return header + kOffCounts + index * kCountsCopySize; }

// The counter is stored whole: other processes read it while a change is
// written.
void StoreCounter(uint8_t* copy, uint64_t value) {
  uint64_t raw;
  PutU64(reinterpret_cast<uint8_t*>(&raw), value);
  __atomic_store_n(reinterpret_cast<uint64_t*>(copy + kCopyCounter), raw, __ATOMIC_RELEASE);
}

uint32_t CopyChecksum(const uint8_t* image, const uint8_t* table_id) {
  return Crc32c(Crc32c(0, image, kCopyChecked), table_id, 16);
}

HeaderCounts ReadCopy(const uint8_t* copy, uint64_t counter) {
  HeaderCounts c;
  c.counter = counter;
  c.rows = GetU32(copy + kCopyRows);
  c.deleted = GetU32(copy + kCopyDeleted);
  c.next_autoinc = GetU32(copy + kCopyAutoInc);
  c.row_version = GetU64(copy + kCopyRowVersion);
  return c;
}

// The checked bytes of a copy holding counts.
void CopyImage(const HeaderCounts& counts, uint8_t* image) {
  std::memset(image, 0, kCopyChecked);
  PutU64(image + kCopyCounter, counts.counter);
  PutU32(image + kCopyRows, counts.rows);
  PutU32(image + kCopyDeleted, counts.deleted);
  PutU32(image + kCopyAutoInc, counts.next_autoinc);
  PutU64(image + kCopyRowVersion, counts.row_version);
}

bool CopyIsWhole(const uint8_t* copy, uint64_t index, const uint8_t* table_id) {
  const uint64_t counter = LoadCounter(copy);
  if (counter == kCopyBeingWritten || counter % 2 != index) return false;
  uint8_t image[kCopyChecked];
  std::memcpy(image, copy, kCopyChecked);
  PutU64(image + kCopyCounter, counter);
  return GetU32(copy + kCopyCrc) == CopyChecksum(image, table_id);
}

}  // namespace

HeaderCounts CurrentCounts(const uint8_t* header, uint32_t version) {
  if (version == kTableVersion1) {
    HeaderCounts c;
    c.counter = GetU64(header + kV1Counter);
    c.rows = GetU32(header + kV1Rows);
    c.deleted = GetU32(header + kV1Deleted);
    c.next_autoinc = GetU32(header + kV1AutoInc);
    c.row_version = GetU64(header + kV1RowVersion);
    return c;
  }
  uint64_t counter;
  const uint8_t* copy = CurrentCopy(header, &counter);
  return ReadCopy(copy, counter);
}

std::string CheckCounts(const uint8_t* header, uint32_t version, const uint8_t* table_id) {
  if (version == kTableVersion1) return {};
  const bool whole[2] = {CopyIsWhole(Copy(header, 0), 0, table_id), CopyIsWhole(Copy(header, 1), 1, table_id)};
  if (whole[0] && whole[1]) {
    const uint64_t a = LoadCounter(Copy(header, 0)), b = LoadCounter(Copy(header, 1));
    if (a + 1 != b && b + 1 != a) return "the two copies of the row counts disagree";
    return {};
  }
  for (int i = 0; i < 2; ++i) {
    // A change cut off between marking its copy and finishing it: the
    // other copy is the table as it was before.
    if (whole[i] && LoadCounter(Copy(header, 1 - i)) == kCopyBeingWritten) return {};
  }
  return "the row counts fail their checksum";
}

void PublishCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id) {
  if (version == kTableVersion1) {
    PutU32(header + kV1Rows, counts.rows);
    PutU32(header + kV1Deleted, counts.deleted);
    PutU32(header + kV1AutoInc, counts.next_autoinc);
    PutU64(header + kV1RowVersion, counts.row_version);
    PutU64(header + kV1Counter, counts.counter);
    return;
  }
  uint8_t* copy = Copy(header, counts.counter % 2);
  uint8_t image[kCopyChecked];
  CopyImage(counts, image);
  StoreCounter(copy, kCopyBeingWritten);
  std::memcpy(copy + kCopyRows, image + kCopyRows, kCopyChecked - kCopyRows);
  PutU32(copy + kCopyCrc, CopyChecksum(image, table_id));
  StoreCounter(copy, counts.counter);
}

void InitCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id) {
  if (version == kTableVersion1) {
    PublishCounts(header, version, counts, table_id);
    return;
  }
  std::memset(header + kOffCounts, 0, 2 * kCountsCopySize);
  HeaderCounts previous = counts;
  previous.counter = counts.counter - 1;
  PublishCounts(header, version, previous, table_id);
  PublishCounts(header, version, counts, table_id);
}

}  // namespace dbe
