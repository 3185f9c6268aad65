#include "storage/rewrite_totals.h"

#include <atomic>

namespace dbe {
namespace {

std::atomic<std::uint64_t> restructures{0}, restructure_ns{0}, others{0}, other_ns{0};

}  // namespace

RewriteTotals CurrentRewriteTotals() {
  return {restructures.load(), restructure_ns.load(), others.load(), other_ns.load()};
}

RewriteTimer::~RewriteTimer() {
  const auto ns = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count());
  (restructure_ ? restructures : others) += 1;
  (restructure_ ? restructure_ns : other_ns) += ns;
}

}  // namespace dbe
