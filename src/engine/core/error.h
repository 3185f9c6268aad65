// Internal error type of the engine. Every failure inside the engine is an
// Error; the public functions in api/ catch it and turn it into a result
// number and the last-error text.
#ifndef KX8_ENGINE_CORE_ERROR_H_
#define KX8_ENGINE_CORE_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dbe {

class Error : public std::runtime_error {
 public:
  Error(uint32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
  uint32_t code() const { return code_; }

 private:
  uint32_t code_;
};

[[noreturn]] inline void Fail(uint32_t code, const std::string& text) { throw Error(code, text); }

}  // namespace dbe

#endif  // KX8_ENGINE_CORE_ERROR_H_
