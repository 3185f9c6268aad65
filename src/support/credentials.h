// The administrator credentials every connection and the dictionary
// component carry. The password is also the encryption password of
// encrypted free tables and the statement password of queries over them.
// Nothing else in the program spells it.
#ifndef KX8_SUPPORT_CREDENTIALS_H_
#define KX8_SUPPORT_CREDENTIALS_H_

#include <string>

namespace kx8::support {

inline std::string AdministratorUser() { return "DBSYS"; }
inline std::string AdministratorPassword() { return "MAPLE1987"; }

}  // namespace kx8::support

#endif  // KX8_SUPPORT_CREDENTIALS_H_
