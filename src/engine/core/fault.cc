#include "core/fault.h"

#include <atomic>

namespace dbe {
namespace {
std::atomic<FaultHook> g_hook{nullptr};
}

void SetFaultHook(FaultHook hook) { g_hook.store(hook); }

void FaultPoint(const char* stage) {
  FaultHook h = g_hook.load();
  if (h != nullptr) h(stage);
}

}  // namespace dbe
