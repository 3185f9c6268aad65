// Fault injection for tests: the storage layer calls FaultPoint() at each
// stage of a file rewrite, and a test may install a hook that stops the
// process there (as a crash would) to check what a later open finds.
#ifndef KX8_ENGINE_CORE_FAULT_H_
#define KX8_ENGINE_CORE_FAULT_H_

namespace dbe {

using FaultHook = void (*)(const char* stage);
void SetFaultHook(FaultHook hook);
void FaultPoint(const char* stage);

}  // namespace dbe

#endif  // KX8_ENGINE_CORE_FAULT_H_
