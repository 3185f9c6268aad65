#include "index/ordered_index.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace dbe {
namespace {

constexpr size_t kBlockEntries = 512;

int ComparePrefix(const uint8_t* entry, std::string_view prefix) {
  return std::memcmp(entry, prefix.data(), prefix.size());
}

}  // namespace

void OrderedIndex::Clear() {
  blocks_.clear();
  size_ = 0;
  ++version_;
}

void OrderedIndex::Build(std::string entries, bool sorted) {
  Clear();
  size_t n = entries.size() / width_;
  std::vector<uint32_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  const char* base = entries.data();
  const uint32_t w = width_;
  if (!sorted) {
    std::sort(order.begin(), order.end(), [base, w](uint32_t a, uint32_t b) {
      return std::memcmp(base + size_t(a) * w, base + size_t(b) * w, w) < 0;
    });
  }
  // Fill blocks to three quarters so that inserts rarely split at once.
  const size_t per_block = kBlockEntries * 3 / 4;
  for (size_t i = 0; i < n; i += per_block) {
    size_t m = std::min(per_block, n - i);
    std::string block;
    block.reserve(kBlockEntries * w);
    for (size_t k = 0; k < m; ++k) block.append(base + size_t(order[i + k]) * w, w);
    blocks_.push_back(std::move(block));
  }
  size_ = n;
}

size_t OrderedIndex::FindBlock(std::string_view prefix, bool upper) const {
  // The first block whose last entry is >= (or >) the prefix.
  size_t lo = 0, hi = blocks_.size();
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    const std::string& b = blocks_[mid];
    const auto* last = reinterpret_cast<const uint8_t*>(b.data()) + b.size() - width_;
    int c = ComparePrefix(last, prefix);
    if (upper ? c > 0 : c >= 0) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

OrderedIndex::Pos OrderedIndex::LowerBound(std::string_view prefix, bool upper) const {
  size_t b = FindBlock(prefix, upper);
  if (b >= blocks_.size()) return End();
  const auto* data = reinterpret_cast<const uint8_t*>(blocks_[b].data());
  size_t lo = 0, hi = BlockCount(b);
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int c = ComparePrefix(data + mid * width_, prefix);
    if (upper ? c > 0 : c >= 0) hi = mid;
    else lo = mid + 1;
  }
  return Pos{b, lo};
}

OrderedIndex::Pos OrderedIndex::Last() const {
  if (blocks_.empty()) return End();
  return Pos{blocks_.size() - 1, BlockCount(blocks_.size() - 1) - 1};
}

void OrderedIndex::Next(Pos* p) const {
  if (IsEnd(*p)) return;
  if (++p->slot >= BlockCount(p->block)) {
    ++p->block;
    p->slot = 0;
  }
}

bool OrderedIndex::Prev(Pos* p) const {
  if (IsEnd(*p)) {
    if (blocks_.empty()) return false;
    *p = Last();
    return true;
  }
  if (p->slot > 0) {
    --p->slot;
    return true;
  }
  if (p->block == 0) return false;
  --p->block;
  p->slot = BlockCount(p->block) - 1;
  return true;
}

void OrderedIndex::Insert(const uint8_t* entry) {
  ++version_;
  ++size_;
  std::string_view key(reinterpret_cast<const char*>(entry), width_);
  if (blocks_.empty()) {
    blocks_.emplace_back(key);
    return;
  }
  Pos p = LowerBound(key);
  if (IsEnd(p)) p = Pos{blocks_.size() - 1, BlockCount(blocks_.size() - 1)};
  std::string& b = blocks_[p.block];
  b.insert(p.slot * width_, key);
  if (BlockCount(p.block) > kBlockEntries) {
    size_t half = BlockCount(p.block) / 2;
    std::string tail = b.substr(half * width_);
    b.resize(half * width_);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, std::move(tail));
  }
}

bool OrderedIndex::Erase(const uint8_t* entry) {
  std::string_view key(reinterpret_cast<const char*>(entry), width_);
  Pos p = LowerBound(key);
  if (IsEnd(p) || std::memcmp(At(p), entry, width_) != 0) return false;
  ++version_;
  --size_;
  std::string& b = blocks_[p.block];
  b.erase(p.slot * width_, width_);
  if (b.empty()) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block));
  } else if (p.block + 1 < blocks_.size() &&
             BlockCount(p.block) + BlockCount(p.block + 1) < kBlockEntries / 2) {
    b += blocks_[p.block + 1];
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block) + 1);
  }
  return true;
}

std::string OrderedIndex::Serialize() const {
  std::string out;
  out.reserve(size_ * width_);
  for (const std::string& b : blocks_) out += b;
  return out;
}

}  // namespace dbe
