#include "platform/ui_services.h"

namespace kx8::platform {

std::string_view CursorName(Cursor cursor) {
  switch (cursor) {
    case Cursor::Default: return "default";
    case Cursor::HourGlass: return "hourglass";
    case Cursor::DatabaseWait: return "database-wait";
  }
  return "unknown";
}

}  // namespace kx8::platform
