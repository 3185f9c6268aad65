// Fuzz target for the table file reader: the input is split into a data,
// an index and a memo file, which are opened and read in record and index
// order. Any input must give an error or rows, never a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbe/dbe.h"

namespace {

std::string g_dir;
DBHANDLE g_conn = 0;

void WriteFile(const std::string& path, const uint8_t* data, size_t len) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (len > 0) std::fwrite(data, 1, len, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/kx8-fuzz-XXXXXX";
  g_dir = mkdtemp(tmpl);
  if (DbConnect(g_dir.c_str(), 1, "", "", 0, &g_conn) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Layout of an input: u32 data-file length, u32 index-file length, then
  // the data file, the index file and the rest as the memo file.
  if (size < 8) return 0;
  uint32_t a = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t(data[3]) << 24);
  uint32_t b = data[4] | (data[5] << 8) | (data[6] << 16) | (uint32_t(data[7]) << 24);
  data += 8;
  size -= 8;
  a = a % (size + 1);
  b = b % (size - a + 1);
  WriteFile(g_dir + "/T.KDT", data, a);
  WriteFile(g_dir + "/T.KDI", data + a, b);
  WriteFile(g_dir + "/T.KDM", data + a + b, size - a - b);
  DBHANDLE t = 0;
  if (DbOpenTable(g_conn, "T", nullptr, 3, 1, 1, 2, 0, &t) != 0) return 0;
  DBHANDLE ixs[16];
  uint16_t n = 16;
  DbGetAllIndexes(t, ixs, &n);
  for (int pass = 0; pass <= int(n) && pass < 3; ++pass) {
    DBHANDLE nav = pass == 0 ? t : ixs[pass - 1];
    if (DbGotoTop(nav) != 0) continue;
    uint16_t eof = 0;
    for (int rows = 0; rows < 1000 && DbAtEOF(t, &eof) == 0 && !eof; ++rows) {
      uint16_t fields = 0;
      DbGetNumFields(t, &fields);
      for (uint16_t f = 1; f <= fields; ++f) {
        char buf[256];
        uint32_t len = sizeof buf;
        DbGetString(t, DBE_FIELD_ORDINAL(f), buf, &len);
      }
      if (DbSkip(nav, 1) != 0) break;
    }
  }
  DbCloseTable(t);
  return 0;
}
