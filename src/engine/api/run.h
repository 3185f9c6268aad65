// The frame of every public function: the engine's lock, and the turning of
// a dbe::Error into a result number and the last-error text.
#ifndef KX8_ENGINE_API_RUN_H_
#define KX8_ENGINE_API_RUN_H_

#include <exception>
#include <mutex>
#include <new>
#include <string>

#include "core/error.h"
#include "dbe/dbe.h"
#include "platform/folder_names.h"

namespace dbe {

struct LastError {
  uint32_t code = 0;
  std::string text;
};
extern thread_local LastError t_last_error;

std::recursive_mutex& ApiMutex();
void RecordError(uint32_t code, std::string text);

template <class F>
DBRESULT Run(F&& body) {
  std::lock_guard<std::recursive_mutex> lock(ApiMutex());
  // One call is one operation for the kept folder listings: a folder read
  // once in it is not read or checked again unless the call changes it.
  kx8::platform::FolderOperation operation;
  try {
    body();
    return DBE_SUCCESS;
  } catch (const Error& e) {
    RecordError(e.code(), e.what());
  } catch (const std::bad_alloc&) {
    RecordError(DBE_INTERNAL_ERROR, "Error 5004: Out of memory.");
  } catch (const std::exception& e) {
    RecordError(DBE_INTERNAL_ERROR, std::string("Error 5004: Internal error: ") + e.what());
  }
  return t_last_error.code;
}

}  // namespace dbe

#endif  // KX8_ENGINE_API_RUN_H_
