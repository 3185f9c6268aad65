// Running totals of the engine's whole-table rewrites in this process:
// restructures (ALTER TABLE) and the other rewrites (pack, zap, encrypt,
// decrypt). The upgrade benchmark reads them to tell the time a company
// pass spends rewriting tables from everything else it does.
#ifndef KX8_ENGINE_STORAGE_REWRITE_TOTALS_H_
#define KX8_ENGINE_STORAGE_REWRITE_TOTALS_H_

#include <chrono>
#include <cstdint>

namespace dbe {

struct RewriteTotals {
  std::uint64_t restructures = 0;
  std::uint64_t restructure_nanoseconds = 0;
  std::uint64_t other_rewrites = 0;
  std::uint64_t other_nanoseconds = 0;
};

RewriteTotals CurrentRewriteTotals();

// Adds the time from its construction to its end to the totals.
class RewriteTimer {
 public:
  explicit RewriteTimer(bool restructure)
      : restructure_(restructure), start_(std::chrono::steady_clock::now()) {}
  ~RewriteTimer();
  RewriteTimer(const RewriteTimer&) = delete;
  RewriteTimer& operator=(const RewriteTimer&) = delete;

 private:
  bool restructure_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_REWRITE_TOTALS_H_
