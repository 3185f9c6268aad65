// The checks made before a batch run touches any company, and by
// kx8db preflight: what would make a run fail half-way, or leave a company
// worse off, found while nothing has been changed yet.
//
//   - a register code that cannot name a company folder, or whose folder is
//     missing;
//   - a company table another program holds open (the pass needs each
//     table to itself for its column changes); found without waiting;
//   - a dictionary that refuses the administrator's log-on;
//   - a company whose previous pass was interrupted (its pass marker,
//     console/pass_marker.h);
//   - too little free space on the root folder's disk for the backups of
//     the companies plus the largest company's rewrites (every table a pass
//     changes keeps its previous files until the pass removes them).
//
// Nothing is written: tables are opened read-only, each alone for the
// moment of the test and closed at once.
#ifndef KX8_CONSOLE_PREFLIGHT_H_
#define KX8_CONSOLE_PREFLIGHT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace kx8::console {

struct PreflightOptions {
  // The run takes a backup of every company (CheckBoxbackup).
  bool backup = true;
  // The configuration's DICTIONARY is "YES": every company is reached
  // through a dictionary, whether or not its folder holds one.
  bool dictionary_setting_yes = false;
};

struct PreflightResult {
  std::vector<std::string> problems;  // one line each, in register order
  std::uint64_t bytes_free = 0;
  std::uint64_t bytes_needed = 0;
};

// The codes of the register root + "mcompany.KDT", in COMPANY_CODE order,
// read without changing it. Raises when the register cannot be read.
std::vector<std::string> RegisteredCodes(const std::string& root);

// Checks the companies `codes` of the root folder (ending in a separator).
PreflightResult Preflight(const std::string& root, const std::vector<std::string>& codes,
                          const PreflightOptions& options = {});

}  // namespace kx8::console

#endif  // KX8_CONSOLE_PREFLIGHT_H_
