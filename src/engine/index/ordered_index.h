// The entries of one index tag in memory: fixed-width byte strings kept in
// order in a list of blocks (a flat, two-level B-tree). Insert and erase cost
// a binary search plus a move inside one block; a position stays valid until
// the next change, which bumps version().
#ifndef KX8_ENGINE_INDEX_ORDERED_INDEX_H_
#define KX8_ENGINE_INDEX_ORDERED_INDEX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbe {

class OrderedIndex {
 public:
  struct Pos {
    size_t block = 0;
    size_t slot = 0;
  };

  explicit OrderedIndex(uint32_t entry_width = 4) : width_(entry_width) {}

  uint32_t entry_width() const { return width_; }
  size_t size() const { return size_; }
  uint64_t version() const { return version_; }

  void Clear();
  // Replaces the contents with entries (concatenated; in any order unless
  // sorted says they are in order already).
  void Build(std::string entries, bool sorted = false);
  void Insert(const uint8_t* entry);
  bool Erase(const uint8_t* entry);

  // The first entry whose leading prefix.size() bytes are >= prefix
  // (upper=false) or > prefix (upper=true).
  Pos LowerBound(std::string_view prefix, bool upper = false) const;
  Pos Begin() const { return Pos{0, 0}; }
  Pos End() const { return Pos{blocks_.size(), 0}; }
  Pos Last() const;  // End() when empty
  bool IsEnd(const Pos& p) const { return p.block >= blocks_.size(); }
  void Next(Pos* p) const;
  // Moves back; returns false (and leaves p) when p is the first entry.
  bool Prev(Pos* p) const;
  const uint8_t* At(const Pos& p) const {
    return reinterpret_cast<const uint8_t*>(blocks_[p.block].data()) + p.slot * width_;
  }

  // All entries in order, concatenated (for the index file).
  std::string Serialize() const;

 private:
  size_t BlockCount(size_t b) const { return blocks_[b].size() / width_; }
  size_t FindBlock(std::string_view prefix, bool upper) const;

  uint32_t width_;
  std::vector<std::string> blocks_;
  size_t size_ = 0;
  uint64_t version_ = 0;
};

}  // namespace dbe

#endif  // KX8_ENGINE_INDEX_ORDERED_INDEX_H_
