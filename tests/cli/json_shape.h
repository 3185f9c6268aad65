// Checks a JSON document against a shape written as a JSON Schema, for the
// parts of the schema language the documented shapes use: type (one or a
// list), enum, properties, required, additionalProperties (false),
// items, minimum and "$ref" to "#/$defs/NAME". Every place that does not
// match is named in the result, so that a test says what is wrong.
#ifndef KX8_TESTS_CLI_JSON_SHAPE_H_
#define KX8_TESTS_CLI_JSON_SHAPE_H_

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kx8::testing {

class JsonShape {
 public:
  explicit JsonShape(nlohmann::json schema) : schema_(std::move(schema)) {}

  // One line per mismatch ("/companies/0/outcome: ..."); empty when the document fits.
  std::vector<std::string> Check(const nlohmann::json& document) const {
    std::vector<std::string> problems;
    Check(schema_, document, "", problems);
    return problems;
  }

 private:
  static bool HasType(const nlohmann::json& v, const std::string& type) {
    if (type == "object") return v.is_object();
    if (type == "array") return v.is_array();
    if (type == "string") return v.is_string();
    if (type == "integer") return v.is_number_integer();
    if (type == "number") return v.is_number();
    if (type == "boolean") return v.is_boolean();
    if (type == "null") return v.is_null();
    return false;
  }

  void Check(const nlohmann::json& s, const nlohmann::json& v, const std::string& at,
             std::vector<std::string>& problems) const {
    const std::string where = at.empty() ? "/" : at;
    if (s.contains("$ref")) {
      const std::string ref = s["$ref"];
      const std::string prefix = "#/$defs/";
      if (ref.rfind(prefix, 0) != 0 || !schema_["$defs"].contains(ref.substr(prefix.size()))) {
        problems.push_back(where + ": the shape refers to " + ref + ", which it does not define");
        return;
      }
      Check(schema_["$defs"][ref.substr(prefix.size())], v, at, problems);
      return;
    }
    if (s.contains("type")) {
      bool fits = false;
      for (const auto& t : s["type"].is_array() ? s["type"] : nlohmann::json::array({s["type"]})) {
        fits = fits || HasType(v, t.get<std::string>());
      }
      if (!fits) {
        problems.push_back(where + ": " + v.dump() + " is not of type " + s["type"].dump());
        return;
      }
    }
    if (s.contains("enum") && std::find(s["enum"].begin(), s["enum"].end(), v) == s["enum"].end()) {
      problems.push_back(where + ": " + v.dump() + " is not one of " + s["enum"].dump());
    }
    if (s.contains("minimum") && v.is_number() && v.get<double>() < s["minimum"].get<double>()) {
      problems.push_back(where + ": " + v.dump() + " is below " + s["minimum"].dump());
    }
    if (v.is_object()) {
      for (const auto& name : s.value("required", nlohmann::json::array())) {
        if (!v.contains(name.get<std::string>())) problems.push_back(where + ": " + name.dump() + " is missing");
      }
      const nlohmann::json properties = s.value("properties", nlohmann::json::object());
      for (const auto& [name, value] : v.items()) {
        if (properties.contains(name)) {
          Check(properties[name], value, at + "/" + name, problems);
        } else if (s.value("additionalProperties", true) == false) {
          problems.push_back(where + ": " + name + " is not part of the shape");
        }
      }
    }
    if (v.is_array() && s.contains("items")) {
      for (std::size_t i = 0; i < v.size(); ++i) Check(s["items"], v[i], at + "/" + std::to_string(i), problems);
    }
  }

  nlohmann::json schema_;
};

}  // namespace kx8::testing

#endif  // KX8_TESTS_CLI_JSON_SHAPE_H_
