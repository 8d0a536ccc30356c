// The summary properties through the system's structured storage: StgOpenStorageEx opens the
// file's IPropertySetStorage (STGFMT_ANY reaches both OLE compound documents and, on the NTFS of
// Windows 2000 to 2003, the property sets kept beside any file), and the Comments entry is
// PIDSI_COMMENTS of FMTID_SummaryInformation.
#include <windows.h>
// After windows.h:
#include <objbase.h>
#include <objidl.h>
#include <propidl.h>

#include "platform/utf.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/win32_services.h"

namespace qs::platform {

namespace {

constexpr std::int32_t kStatusOpen = 1;

// Clears a PROPVARIANT on every way out.
struct PropVariant {
  PROPVARIANT value;
  PropVariant() { PropVariantInit(&value); }
  ~PropVariant() { PropVariantClear(&value); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
};

// The code page of a Unicode property set, whose single-byte texts are kept in UTF-16.
constexpr UINT kUnicodeSetCodePage = 1200;

std::u16string FromCodePage(const char* text, UINT codePage) {
  if (text == nullptr || *text == '\0') return {};
  const int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, wide.data(), n);
  wide.resize(static_cast<std::size_t>(n - 1));
  return std::u16string(wide.begin(), wide.end());
}

// `text` in the single-byte or multibyte code page; a character it lacks becomes the code page's
// default character.
std::string ToCodePage(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                      nullptr, nullptr);
  return bytes;
}

class PropertySetSummary final : public SummaryPropertyComponent {
 public:
  PropertySetSummary() {
    // The component may be made on a thread where COM is already set up another way; either
    // answer lets the calls below work.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    comStarted_ = SUCCEEDED(hr);
  }
  ~PropertySetSummary() override {
    Release();
    if (comStarted_) CoUninitialize();
  }

  using SummaryPropertyComponent::OpenSummary;
  std::int32_t OpenSummary(std::u16string_view path, std::int32_t mode,
                           const std::optional<ExpectedFile>& expected) override {
    Release();
    status_ = kSummaryNotOpened;
    // The long form for a path of MAX_PATH characters or more.
    const std::wstring wide = WidePath(Utf16ToUtf8(path));
    if (expected) {
      // Held until Release: nobody can put another file at the path meanwhile.
      held_ = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (held_ == INVALID_HANDLE_VALUE) return kSummaryFailed;
      if (!IsExpectedFileHandle(held_, *expected)) {
        Release();
        return kSummaryNotTheFile;
      }
    }
    HRESULT hr = OpenSets(wide.c_str(), static_cast<DWORD>(mode));
    if (FAILED(hr)) return hr;
    // The Comments live in the summary information set; a file that has none yet gets one when
    // it is opened for writing.
    hr = sets_->Open(FMTID_SummaryInformation, static_cast<DWORD>(mode), &props_);
    if (hr == STG_E_FILENOTFOUND && (mode & (STGM_WRITE | STGM_READWRITE)) != 0) {
      hr = sets_->Create(FMTID_SummaryInformation, nullptr, PROPSETFLAG_DEFAULT,
                         static_cast<DWORD>(mode) | STGM_CREATE, &props_);
    }
    if (FAILED(hr)) {
      props_ = nullptr;
      Release();
      return hr;
    }
    status_ = kStatusOpen;
    return kSummaryOk;
  }

  std::int32_t GetOpenStatus(std::int32_t& status) override {
    status = status_;
    return kSummaryOk;
  }

  std::int32_t GetComments(std::u16string& text) override {
    text.clear();
    if (props_ == nullptr) return kSummaryFailed;
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PIDSI_COMMENTS;
    PropVariant value;
    const HRESULT hr = props_->ReadMultiple(1, &spec, &value.value);
    if (FAILED(hr)) return hr;
    if (value.value.vt == VT_LPWSTR && value.value.pwszVal != nullptr) {
      const std::wstring wide(value.value.pwszVal);
      text.assign(wide.begin(), wide.end());
    } else if (value.value.vt == VT_LPSTR) {
      // Single-byte texts are in the set's code page; those of a Unicode set are handed out in
      // the system's.
      const UINT codePage = CodePage();
      text = FromCodePage(value.value.pszVal,
                          codePage == kUnicodeSetCodePage || codePage == 0 ? CP_ACP : codePage);
    }
    return kSummaryOk;
  }

  std::int32_t SetComments(std::u16string_view text) override {
    if (props_ == nullptr) return kSummaryFailed;
    std::wstring wide(text.begin(), text.end());
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PIDSI_COMMENTS;
    PROPVARIANT value;
    PropVariantInit(&value);
    // The Comments are documented as VT_LPSTR: a set kept in a single-byte or multibyte code page
    // gets them in that code page, as the programs that read it expect; only a Unicode set gets
    // them as UTF-16 (VT_LPWSTR), which keeps every character.
    const UINT codePage = CodePage();
    std::string bytes;
    if (codePage == kUnicodeSetCodePage) {
      value.vt = VT_LPWSTR;
      value.pwszVal = wide.data();
    } else {
      bytes = ToCodePage(wide, codePage == 0 ? CP_ACP : codePage);
      value.vt = VT_LPSTR;
      value.pszVal = bytes.data();
    }
    return props_->WriteMultiple(1, &spec, &value, PID_FIRST_USABLE);
  }

  std::int32_t SaveSummary() override {
    if (props_ == nullptr) return kSummaryFailed;
    return props_->Commit(STGC_DEFAULT);
  }

  std::int32_t CloseSummary() override {
    const bool wasOpen = props_ != nullptr || sets_ != nullptr;
    Release();
    status_ = 0;
    return wasOpen ? kSummaryOk : kSummaryFailed;
  }

 private:
  // A compound document is opened as a storage and asked for its property sets; any other file
  // is asked for them directly, which is how Windows 2000 to 2003 reach the property sets that
  // NTFS keeps beside a file's data. Both are the system's documented ways; the first is also the
  // one that Wine carries out.
  HRESULT OpenSets(const wchar_t* path, DWORD mode) {
    IStorage* storage = nullptr;
    HRESULT hr = StgOpenStorageEx(path, mode, STGFMT_ANY, 0, nullptr, nullptr, IID_IStorage,
                                  reinterpret_cast<void**>(&storage));
    if (SUCCEEDED(hr)) {
      hr = storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets_));
      storage->Release();
      if (SUCCEEDED(hr)) return hr;
      sets_ = nullptr;
    }
    hr = StgOpenStorageEx(path, mode, STGFMT_ANY, 0, nullptr, nullptr, IID_IPropertySetStorage,
                          reinterpret_cast<void**>(&sets_));
    if (FAILED(hr)) sets_ = nullptr;
    return hr;
  }

  // The set's code page (PID_CODEPAGE, a VT_I2 holding the number in 16 bits, so that 65001
  // reads as a negative number); 0 when the set names none.
  UINT CodePage() const {
    PROPSPEC spec{};
    spec.ulKind = PRSPEC_PROPID;
    spec.propid = PID_CODEPAGE;
    PropVariant value;
    if (FAILED(props_->ReadMultiple(1, &spec, &value.value))) return 0;
    if (value.value.vt == VT_I2) return static_cast<std::uint16_t>(value.value.iVal);
    if (value.value.vt == VT_UI2) return value.value.uiVal;
    return 0;
  }

  void Release() {
    if (props_ != nullptr) props_->Release();
    if (sets_ != nullptr) sets_->Release();
    props_ = nullptr;
    sets_ = nullptr;
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }

  bool comStarted_ = false;
  IPropertySetStorage* sets_ = nullptr;
  IPropertyStorage* props_ = nullptr;
  HANDLE held_ = INVALID_HANDLE_VALUE;  // the expected file, kept from being renamed
  std::int32_t status_ = 0;
};

}  // namespace

std::unique_ptr<SummaryPropertyComponent> MakeWin32SummaryComponent() {
  return std::make_unique<PropertySetSummary>();
}

}  // namespace qs::platform
