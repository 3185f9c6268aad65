#include "console/options.h"

#include <stdexcept>

namespace kx8::console {
namespace {

using K = ControlKind;
using P = Page;

// Captions exactly as stored, doubled and trailing blanks included.
const std::vector<OptionControl> kControls = {
    {"CheckBoxbackup", K::CheckBox, "Auto Backup before update database ? ", true, true, P::Main, ""},
    {"CheckBox1", K::CheckBox, "Update New fields", true, true, P::Main, ""},
    {"CheckBox2", K::CheckBox, "Tick to select All company", false, true, P::Main, ""},
    {"CheckBoxDir", K::CheckBox, "Retrieve Company Code from Company Folder?", false, true, P::Main, ""},
    {"CheckBoxVol", K::CheckBox, "Update Voluntory Code [Vol1] ?", false, true, P::Main, ""},
    {"chkAC", K::CheckBox, "Update Email Ac to 80 Chars?", false, true, P::Main, ""},
    {"CheckBoxHTRX", K::CheckBox, "Update Transaction  Record?", false, true, P::Main, ""},
    {"CheckBoxSupvr1", K::CheckBox, "Update Supervisor Table ?", false, true, P::Main, ""},
    {"CheckBoxPOSB", K::CheckBox, "Update POSB Account  to 7171 ?", false, true, P::Main, ""},
    {"CheckBoxRearrange", K::CheckBox, "Rearrange Custom Report", false, true, P::Main, ""},
    {"CheckBoxTerm", K::CheckBox, "Update Employee Termination Status ? ", false, true, P::Main, ""},
    {"CheckBoxRight", K::CheckBox, "Rebuild Table Right?", false, true, P::Main, ""},
    {"CheckBoxPICTURE", K::CheckBox, "Update Picture", false, true, P::Main, ""},
    {"CheckBoxFin", K::CheckBox, "Update Fin Number?", false, true, P::Main, ""},
    {"removeNRIC", K::CheckBox, "Remove NRIC with '/'?", false, true, P::Main, ""},
    {"chkCPFFWL", K::CheckBox, "Update 2012 FWL table?", true, true, P::Main, ""},
    {"CheckBoxSAVEJPG", K::CheckBox, "Save JPG on c:\\temp?", false, true, P::Main, ""},

    {"CheckBoxNS", K::CheckBox, "Update NS Date", false, true, P::Optional, ""},
    {"CheckBoxCost", K::CheckBox, "Update Employee's Cost Centre", false, true, P::Optional, ""},
    {"CheckBoxAdd", K::CheckBox, "Update MSO Subject to AddWages ? ", false, true, P::Optional, ""},
    {"CheckBoxClaim", K::CheckBox, "Update Claim Setup Table", false, true, P::Optional, ""},
    {"CheckBoxjpg", K::CheckBox, "Covert Employee's Photo Bmp To Jpg", false, true, P::Optional, ""},
    {"CheckBoxaddr", K::CheckBox, "add '6'  digit to Telephone  No", false, true, P::Optional, ""},
    {"CheckBoxSTOP", K::CheckBox, "Update Stop payment Indicator ?", false, true, P::Optional, ""},
    {"CheckBoxFamily", K::CheckBox, "Update Family Details to family Record ? ", false, true, P::Optional, ""},
    {"CheckBoxEducate", K::CheckBox, "Update Education Record ID ?", false, true, P::Optional, ""},
    {"CheckBoxFamilyCode", K::CheckBox, "Convert Family's Occupation code ?", false, true, P::Optional, ""},
    {"CheckBoxUpdate", K::CheckBox, "Update Report Template ?", false, true, P::Optional, ""},
    {"CheckBoxCode", K::CheckBox, "Update Report Template ?", false, true, P::Optional, ""},
    {"CheckBoxAdv", K::CheckBox, "Update Advance Report Writer Template ?", false, true, P::Optional, ""},
    {"CheckBoxForfeit", K::CheckBox, "Initialize Leave Convert from KX5 version ?", false, true, P::Optional, ""},
    {"CheckBoxCTR", K::CheckBox, "Convert Cost Centre code ?", false, true, P::Optional, ""},

    {"CheckBox5", K::CheckBox, "Reset e-Payslip Password", false, true, P::Misc, ""},
    {"RadioButton1", K::RadioButton, "Update All", false, false, P::Misc, ""},
    {"RadioButton2", K::RadioButton, "Update Blank Field", true, false, P::Misc, ""},
    {"CheckBox7", K::CheckBox, "Linking zEzore to rIvudAveru (Dic)", false, true, P::Misc, ""},
    {"CheckBox3", K::CheckBox, "Overwrite rAdize Template && Extra Parameters?", false, true, P::Misc, ""},
    {"CheckBox4", K::CheckBox, "Update rAdize Template              ?", false, true, P::Misc, ""},
    {"CheckBox6", K::CheckBox, "Update to new zEzore approval flow ?", false, true, P::Misc, ""},
    {"Edit4", K::Edit, "Flow Table", false, true, P::Misc, "employee"},
};

}  // namespace

const std::vector<OptionControl>& OptionControls() { return kControls; }

const OptionControl* FindOptionControl(const std::string& name) {
  for (const OptionControl& c : kControls) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

RunOptions::RunOptions() {
  for (const OptionControl& c : kControls) {
    checked_[c.name] = c.checked;
    enabled_[c.name] = c.enabled;
    text_[c.name] = c.text;
  }
}

const OptionControl& RunOptions::Control(const std::string& name) const {
  const OptionControl* c = FindOptionControl(name);
  if (c == nullptr) throw std::invalid_argument("There is no option named " + name + ".");
  return *c;
}

bool RunOptions::Checked(const std::string& name) const {
  Control(name);
  return checked_.at(name);
}

void RunOptions::SetChecked(const std::string& name, bool checked) {
  const OptionControl& c = Control(name);
  if (c.kind == ControlKind::Edit) throw std::invalid_argument(name + " is an edit box, not a check box.");
  checked_[name] = checked;
  // Radio buttons of one group exclude each other.
  if (c.kind == ControlKind::RadioButton && checked) {
    for (const OptionControl& other : kControls) {
      if (other.kind == ControlKind::RadioButton && other.page == c.page && name != other.name) {
        checked_[other.name] = false;
      }
    }
  }
}

bool RunOptions::Enabled(const std::string& name) const {
  Control(name);
  return enabled_.at(name);
}

void RunOptions::SetEnabled(const std::string& name, bool enabled) {
  Control(name);
  enabled_[name] = enabled;
}

const std::string& RunOptions::Text(const std::string& name) const {
  Control(name);
  return text_.at(name);
}

void RunOptions::SetText(const std::string& name, const std::string& text) {
  if (Control(name).kind != ControlKind::Edit) throw std::invalid_argument(name + " is not an edit box.");
  text_[name] = text;
}

}  // namespace kx8::console
