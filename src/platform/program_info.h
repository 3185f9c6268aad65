// The running program's own folder and file date.
//
// The program's folder is the folder of the running executable, read from
// /proc/self/exe, with its trailing separator ("/opt/kx8/"). It is a native
// path; the program appends Windows-style names to it ("KELPA.ini",
// "COMPANY\"), which the path layer accepts. The file date is the
// executable's last-modified time as a date of the program's date type (a
// day count from 30 December 1899 with the time of day as the fraction),
// in local time, to the second.
//
// Tests replace both for one scope with ScopedProgramInfoOverride.
#ifndef KX8_PLATFORM_PROGRAM_INFO_H_
#define KX8_PLATFORM_PROGRAM_INFO_H_

#include <optional>
#include <string>

namespace kx8::platform {

// Full native path of the running executable. Throws std::system_error
// when the operating system does not tell it.
std::string ProgramFileName();

// The folder of the running executable, ending in its separator; the
// override's folder, verbatim, while one is in place.
std::string ProgramFolder();

// Last-modified date and time of the running executable, local time; the
// override's date while one is in place. Throws std::system_error when the
// executable cannot be examined.
double ProgramFileDate();

// While alive, ProgramFolder and ProgramFileDate give these values instead
// of the executable's. The folder is returned exactly as given, so it
// should end in a separator ("\" or "/") like the real one. Overrides
// nest: destroying one restores what was in place before it. Meant for
// tests; not for use from several threads at once.
class ScopedProgramInfoOverride {
 public:
  ScopedProgramInfoOverride(std::string folder, double file_date);
  ~ScopedProgramInfoOverride();
  ScopedProgramInfoOverride(const ScopedProgramInfoOverride&) = delete;
  ScopedProgramInfoOverride& operator=(const ScopedProgramInfoOverride&) = delete;

 private:
  struct Values {
    std::string folder;
    double file_date;
  };
  friend std::string ProgramFolder();
  friend double ProgramFileDate();
  static std::optional<Values>& Current();

  std::optional<Values> previous_;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_PROGRAM_INFO_H_
