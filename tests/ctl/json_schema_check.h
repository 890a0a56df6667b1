// Test support: checks a JSON text against docs/halvornctl-status.schema.json with an
// independent validator (python3-jsonschema, Draft 2020-12).

#ifndef HALVORN_TESTS_CTL_JSON_SCHEMA_CHECK_H_
#define HALVORN_TESTS_CTL_JSON_SCHEMA_CHECK_H_

#include <string>

namespace halvorn::testing {

struct SchemaCheck {
  bool available = false;  // the validator could be run
  bool valid = false;
  std::string report;  // the validator's words: why it could not run, or what is wrong
};

SchemaCheck CheckStatusSchema(const std::string& json_text);

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_CTL_JSON_SCHEMA_CHECK_H_
