// Fuzz target for the table file reader: the input is split into a data,
// an index and a memo file, which are opened and read in record and index
// order. Any input must give an error or rows, never a crash. At exit it
// prints how many inputs were tried, how many the engine refused as damaged
// (or of an unsupported format) and how many it read whole; seed it with
// whole tables (tests/fuzz/make_seeds) so that most inputs are near-tables.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbe/dbe.h"

namespace {

std::string g_dir;
DBHANDLE g_conn = 0;

struct Tally {
  uint64_t tried = 0, refused = 0, read = 0, other = 0;
  ~Tally() {
    std::fprintf(stderr, "table_reader_fuzz: %llu inputs tried, %llu refused as damaged or unsupported, "
                 "%llu read whole, %llu other errors\n",
                 static_cast<unsigned long long>(tried), static_cast<unsigned long long>(refused),
                 static_cast<unsigned long long>(read), static_cast<unsigned long long>(other));
  }
} g_tally;

void Count(DBRESULT rc) {
  if (rc == 0) {
    ++g_tally.read;
  } else if (rc == DBE_DAMAGED_FILE || rc == DBE_UNSUPPORTED_TABLE_TYPE || rc == DBE_UNSUPPORTED_FIELD_TYPE) {
    ++g_tally.refused;
  } else {
    ++g_tally.other;
  }
}

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
  ++g_tally.tried;
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
  DBRESULT rc = DbOpenTable(g_conn, "T", nullptr, 3, 1, 1, 2, 0, &t);
  if (rc != 0) {
    Count(rc);
    return 0;
  }
  DBRESULT first_error = 0;
  DBHANDLE ixs[16];
  uint16_t n = 16;
  DbGetAllIndexes(t, ixs, &n);
  for (int pass = 0; pass <= int(n) && pass < 3; ++pass) {
    DBHANDLE nav = pass == 0 ? t : ixs[pass - 1];
    if (DBRESULT top = DbGotoTop(nav); top != 0) {
      if (first_error == 0) first_error = top;
      continue;
    }
    uint16_t eof = 0;
    for (int rows = 0; rows < 1000 && DbAtEOF(t, &eof) == 0 && !eof; ++rows) {
      uint16_t fields = 0;
      DbGetNumFields(t, &fields);
      for (uint16_t f = 1; f <= fields; ++f) {
        char buf[256];
        uint32_t len = sizeof buf;
        DBRESULT got = DbGetString(t, DBE_FIELD_ORDINAL(f), buf, &len);
        if (got != 0 && first_error == 0) first_error = got;
      }
      if (DBRESULT skipped = DbSkip(nav, 1); skipped != 0) {
        if (first_error == 0) first_error = skipped;
        break;
      }
    }
  }
  DbCloseTable(t);
  Count(first_error);
  return 0;
}
