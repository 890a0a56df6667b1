#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ctl/json_schema_check.h"
#include "subprocess.h"
#include "support/log_capture.h"

namespace halvorn::testing {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
// Exit 3: no validator; 1: the document does not validate; 0: it does.
constexpr const char* kScript =
    "import json, sys\n"
    "try:\n"
    "    import jsonschema\n"
    "except ImportError:\n"
    "    print('python3-jsonschema is missing'); sys.exit(3)\n"
    "schema = json.load(open(sys.argv[1]))\n"
    "jsonschema.Draft202012Validator.check_schema(schema)\n"
    "errors = "
    "list(jsonschema.Draft202012Validator(schema).iter_errors(json.load(open(sys.argv[2]))))\n"
    "for e in errors:\n"
    "    print('/'.join(str(p) for p in e.absolute_path) + ': ' + e.message)\n"
    "sys.exit(1 if errors else 0)\n";

}  // namespace

SchemaCheck CheckStatusSchema(const std::string& json_text) {
  SchemaCheck check;
  if (::access(kPython, X_OK) != 0) {
    check.report = std::string(kPython) + " is missing";
    return check;
  }
  TempDir dir;
  const std::filesystem::path document = dir.path() / "status.json";
  std::ofstream(document, std::ios::binary) << json_text;
  const mbimsim::RunResult run = mbimsim::RunProgram(
      {kPython, "-c", kScript, HALVORN_STATUS_SCHEMA, document.string()}, 60000);
  check.report = run.out + run.err;
  check.available = run.exit_code == 0 || run.exit_code == 1;
  check.valid = run.exit_code == 0;
  return check;
}

}  // namespace halvorn::testing
