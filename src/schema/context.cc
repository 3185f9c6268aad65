#include "schema/context.h"

#include <stdexcept>

namespace kx8::schema {

std::string UpgradeContext::CompanyCode() const {
  return company_register.FieldByName("COMPANY_CODE").AsString();
}

void UpgradeContext::SeekCompany(const std::string& code) const {
  if (!company_register.Active()) company_register.Open();
  if (!company_register.FindKey({dbaccess::TVariant(code)})) throw std::runtime_error("Company code not found !");
}

}  // namespace kx8::schema
