#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ctl/json_schema_check.h"
#include "subprocess.h"
#include "support/log_capture.h"

namespace halvorn::testing {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

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
      {kPython, HALVORN_STATUS_VALIDATOR, HALVORN_STATUS_SCHEMA, document.string()}, 60000);
  check.report = run.out + run.err;
  check.available = run.exit_code == 0 || run.exit_code == 1;
  check.valid = run.exit_code == 0;
  return check;
}

}  // namespace halvorn::testing
