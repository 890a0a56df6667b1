// The log of one successful run of the authorisation job, the same on both builds: a vendor
// modem (USB 7A3F:0B41, its network interface "wwan0") at radio function level 0, the checks
// switched off with IsDisableVerify = 1, the level read and set to 1. The end-to-end tests of
// both builds compare their run with these lines, so the two builds' logs match line by line.

#ifndef HALVORN_TESTS_AUTH_SUCCESSFUL_RUN_LOG_H_
#define HALVORN_TESTS_AUTH_SUCCESSFUL_RUN_LOG_H_

#include <string>
#include <vector>

#include "mbn/helper_log.h"

namespace halvorn::testing {

// What the laptop's network interface of the modem looks like to device discovery.
inline constexpr const char* kModemAdapterName = "{F988CD65-EDAF-A5A4-66E4-38F3AAEED1EF}";
inline constexpr const wchar_t* kModemAdapterDescription = L"Mobile Broadband Interface Model";
inline constexpr const wchar_t* kModemAdapterFriendlyName = L"wwan0";
inline constexpr const char* kModemInstanceId = "USB\\VID_7A3F&PID_0B41&MI_0C\\2-3:1.12";

// The lines (see LogCapture::Lines) of the run, the session address masked
// (MaskSessionAddress).
inline std::vector<std::string> SuccessfulRunLog() {
  std::vector<std::string> lines = {
      "T h : + CTaskAuthModule::doJob",
      "T h : + CDeviceHelper::IsTessaryMBIMDevcieExist",
      "T i :   Adapters Info: adapter name = {F988CD65-EDAF-A5A4-66E4-38F3AAEED1EF}, adapter "
      "desc = Mobile Broadband Interface Model, friend name=wwan0",
      "T i :   mbim oper status = 2 (1 IfOperStatusUp ; 2 IfOperStatusDown ; 3 "
      "IfOperStatusTesting ; 4 IfOperStatusUnknown ; 5 IfOperStatusDormant ; 6 "
      "IfOperStatusNotPresent ;7 IfOperStatusLowerLayerDown)",
      "T i :   Get Instance Id USB\\VID_7A3F&PID_0B41&MI_0C\\2-3:1.12",
      "T i :   find MBIM device : USB\\VID_7A3F&PID_0B41&MI_0C\\2-3:1.12",
      "T i :   IsTessaryMBIMDevcieExist VID_7A3F 0B41;0B42;0B47;0B49;0B4A find ",
      "T h : - CDeviceHelper::IsTessaryMBIMDevcieExist",
      "T h : + ReadDWORDRegValue",
      "T i :   hKeyRoot = 0x80000002 ; subKey = SOFTWARE\\Tessary Wireless Inc\\Brevane ;key = "
      "IsDisableVerify ",
      "T e :   RegQueryValueEx success, ret = 1",
      "T h : - ReadDWORDRegValue",
      "T i :   Read IsDisableVerify = 1(True)",
  };
  const std::vector<std::string> query = SuccessfulQueryLines(0);
  lines.insert(lines.end(), query.begin(), query.end());
  lines.push_back("T i :   GetMbimCfun Mode :  0");
  const std::vector<std::string> set = SuccessfulSetLines();
  lines.insert(lines.end(), set.begin(), set.end());
  lines.push_back("T i :   SET MBIM FUN SUCCESS!");
  lines.push_back("T h : - CTaskAuthModule::doJob");
  return lines;
}

}  // namespace halvorn::testing

#endif  // HALVORN_TESTS_AUTH_SUCCESSFUL_RUN_LOG_H_
