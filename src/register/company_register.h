// Creation of the company register "mcompany.KDT" in the root folder.
#ifndef KX8_REGISTER_COMPANY_REGISTER_H_
#define KX8_REGISTER_COMPANY_REGISTER_H_

#include <string>

#include "platform/ui_services.h"

namespace kx8::reg {

// Creates the register in folder unless it exists (overwrite false). On
// normal return "mcompany.KDT" exists there. A failure of the creation is
// shown in a message box and passed on; every other failure is passed on.
void CreateCompanyRegister(const std::string& folder, bool overwrite, platform::UiServices& ui);

// The entry the start-up code calls.
void CreateRegister(const std::string& folder, bool overwrite, platform::UiServices& ui);

}  // namespace kx8::reg

#endif  // KX8_REGISTER_COMPANY_REGISTER_H_
