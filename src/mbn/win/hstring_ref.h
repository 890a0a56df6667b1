// A runtime string (HSTRING) over a constant literal for the backend's class names: a reference
// string lives in its header, so nothing is allocated and nothing is left to free (the runtime
// copies it if it keeps it).

#ifndef HALVORN_MBN_WIN_HSTRING_REF_H_
#define HALVORN_MBN_WIN_HSTRING_REF_H_

#include <windows.h>

#include <hstring.h>
#include <winstring.h>

#include <cwchar>

namespace halvorn::winrt_abi {

// A reference string over `text`, which must outlive this object. Neither copyable nor
// movable: the string points into its own header.
class HStringReference {
 public:
  explicit HStringReference(const wchar_t* text) {
    result_ = WindowsCreateStringReference(text, static_cast<UINT32>(std::wcslen(text)), &header_,
                                           &string_);
    if (FAILED(result_)) {
      string_ = nullptr;
    }
  }
  HStringReference(const HStringReference&) = delete;
  HStringReference& operator=(const HStringReference&) = delete;

  // S_OK, or why the string could not be made (get() is then null).
  HRESULT result() const { return result_; }
  HSTRING get() const { return string_; }

 private:
  HSTRING_HEADER header_{};
  HSTRING string_ = nullptr;
  HRESULT result_ = E_FAIL;
};

}  // namespace halvorn::winrt_abi

#endif  // HALVORN_MBN_WIN_HSTRING_REF_H_
