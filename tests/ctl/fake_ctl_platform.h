// Test support: the tool's service manager and privileges as a test sets them.

#ifndef HALVORN_TESTS_CTL_FAKE_CTL_PLATFORM_H_
#define HALVORN_TESTS_CTL_FAKE_CTL_PLATFORM_H_

#include <string>

#include "ctl/ctl_platform.h"

namespace halvorn::testing {

class FakeCtlPlatform final : public ctl_platform::CtlPlatform {
 public:
  ctl_platform::ServiceFacts QueryService() override {
    ++queries;
    return service;
  }
  std::string PrivilegeProblem() override { return privilege_problem; }

  ctl_platform::ServiceFacts service;  // the manager's answer (unknown until set)
  std::string privilege_problem;       // empty: the process may read everything
  int queries = 0;
};

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_CTL_FAKE_CTL_PLATFORM_H_
