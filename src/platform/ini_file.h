// Reading values from an INI file, the way the Windows profile routines do.
//
// The program only reads its configuration file; it never writes one. A
// value is looked up by section and key:
//  - a missing or unreadable file, a missing section or a missing key all
//    give the default (an empty string unless the caller gives another);
//  - section and key names are compared without regard to ASCII letter
//    case, after dropping the blanks around them;
//  - the value is the text after the first "=" of the key's line, with the
//    blanks around it dropped; when what is left starts and ends with the
//    same quotation mark (' or ") and is at least two characters long, that
//    pair of quotes is dropped too (blanks inside the quotes stay);
//  - everything else on the line belongs to the value: ";" or "#" inside a
//    value is not a comment, and there is no length limit;
//  - a key listed twice gives its first value (in file order, also across
//    repeated sections of the same name);
//  - a line whose first non-blank character is ";" or "#" is a comment; an
//    indented line is an ordinary line (there are no continuation lines);
//  - lines that are neither a section, a comment nor "key=value" are
//    ignored, as are a UTF-8 byte order mark and "\r" before "\n".
// The file is read afresh on every call, so a value always reflects the
// file as it is at that moment.
//
// The file's path is a Windows path: it goes through the path layer
// (platform/path.h) and resolves without regard to case.
#ifndef KX8_PLATFORM_INI_FILE_H_
#define KX8_PLATFORM_INI_FILE_H_

#include <string>
#include <string_view>

namespace kx8::platform {

class IniFile {
 public:
  explicit IniFile(std::string file_name);

  // The Windows path given at construction.
  const std::string& FileName() const { return file_name_; }

  // The value of key in section, or default_value when the file, the
  // section or the key is missing (see the rules above).
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value = {}) const;

 private:
  std::string file_name_;
};

// One-off read: IniFile(file_name).ReadString(section, key).
std::string ReadIniString(std::string_view file_name, std::string_view section,
                          std::string_view key);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_INI_FILE_H_
