// Components: objects with a name and an owner, as the main window holds
// them (DbConnection1, DbTable1, DbQuery1, ...). The owner only groups
// components for name look-ups; it does not free them.
#ifndef KX8_DBACCESS_DB_COMPONENT_H_
#define KX8_DBACCESS_DB_COMPONENT_H_

#include <string>

namespace kx8::dbaccess {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  virtual ~TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) {
    name_ = name;
    NameChanged();
  }
  TComponent* Owner() const { return owner_; }

 protected:
  virtual void NameChanged() {}

 private:
  TComponent* owner_;
  std::string name_;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_COMPONENT_H_
