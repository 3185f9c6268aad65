#include "dbaccess/db_types.h"

#include "dbaccess/db_dataset.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"

namespace kx8::dbaccess {

const char* FieldTypeName(TFieldType type) {
  switch (type) {
    case ftUnknown: return "ftUnknown";
    case ftString: return "ftString";
    case ftSmallint: return "ftSmallint";
    case ftInteger: return "ftInteger";
    case ftWord: return "ftWord";
    case ftBoolean: return "ftBoolean";
    case ftFloat: return "ftFloat";
    case ftCurrency: return "ftCurrency";
    case ftBCD: return "ftBCD";
    case ftDate: return "ftDate";
    case ftTime: return "ftTime";
    case ftDateTime: return "ftDateTime";
    case ftBytes: return "ftBytes";
    case ftVarBytes: return "ftVarBytes";
    case ftAutoInc: return "ftAutoInc";
    case ftBlob: return "ftBlob";
    case ftMemo: return "ftMemo";
    case ftGraphic: return "ftGraphic";
    case ftFmtMemo: return "ftFmtMemo";
    case ftParadoxOle: return "ftParadoxOle";
    case ftDBaseOle: return "ftDBaseOle";
    case ftTypedBinary: return "ftTypedBinary";
  }
  return "ftUnknown";
}

const TFieldDef* TFieldDefs::Find(const std::string& name) const {
  for (const TFieldDef& d : items_) {
    if (internal::SameText(d.Name, name)) return &d;
  }
  return nullptr;
}

const TIndexDef* TIndexDefs::Find(const std::string& name) const {
  for (const TIndexDef& d : items_) {
    if (internal::SameText(d.Name, name)) return &d;
  }
  return nullptr;
}

std::uint16_t EngineTableType(TDbTableTypes type) {
  switch (type) {
    case ttDbCDX: return 2;
    case ttDbNTX: return 1;
    case ttDbKDT:
    case ttDbDefault: return 3;
  }
  return 3;
}

// Character type and rights checking are fixed while a table is open; a
// query keeps every setting while it is open.
void TDbTableOptions::Check(Setting s) const {
  if (owner_ == nullptr || !owner_->Active()) return;
  if (s == Setting::CharType || s == Setting::RightsCheck || owner_->AllOptionsFixedWhileOpen()) {
    internal::RaiseLayerError(msg::kDataSetOpen, owner_);
  }
}

void TDbTableOptions::SetDbLockType(TDbLockType v) {
  Check(Setting::LockType);
  lock_type_ = v;
}

void TDbTableOptions::SetDbCharType(TDbCharTypes v) {
  Check(Setting::CharType);
  char_type_ = v;
}

void TDbTableOptions::SetDbRightsCheck(bool v) {
  Check(Setting::RightsCheck);
  rights_check_ = v;
}

void TDbTableOptions::SetDbOptimizedFilters(bool v) {
  Check(Setting::OptimizedFilters);
  optimized_filters_ = v;
}

void TDbTableOptions::SetDbIndexPageSize(std::uint32_t v) {
  Check(Setting::IndexPageSize);
  index_page_size_ = v;
}

void TDbTableOptions::SetDbPreserveSpaces(bool v) {
  Check(Setting::PreserveSpaces);
  preserve_spaces_ = v;
}

}  // namespace kx8::dbaccess
