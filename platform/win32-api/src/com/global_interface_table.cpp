// The Global Interface Table. There is no marshaling here, so an interface fetched in any
// apartment is the registered object itself; the table only keeps the object alive from
// registration to revocation and answers what Windows answers. One table serves the whole
// process, as on Windows.
#include <objbase.h>

#include <map>
#include <mutex>

#include "com_internal.h"

namespace {

class GlobalInterfaceTable final : public IGlobalInterfaceTable {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IGlobalInterfaceTable)) {
      *ppv = static_cast<IGlobalInterfaceTable*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // The table lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // Keeps the object's `riid` interface (answering E_NOINTERFACE as marshaling would for an
  // interface the object lacks) under a new cookie, never 0.
  HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) override {
    if (!pUnk || !pdwCookie) return E_INVALIDARG;
    *pdwCookie = 0;
    if (!auralink::platform::com::IsComUsableOnThisThread()) return CO_E_NOTINITIALIZED;
    IUnknown* registered = nullptr;
    HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(&registered));
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> lock(mutex_);
    do {
      ++lastCookie_;
    } while (lastCookie_ == 0 || entries_.count(lastCookie_));
    entries_[lastCookie_] = registered;
    *pdwCookie = lastCookie_;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
    if (!auralink::platform::com::IsComUsableOnThisThread()) return CO_E_NOTINITIALIZED;
    IUnknown* registered = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = entries_.find(dwCookie);
      if (found == entries_.end()) return E_INVALIDARG;
      registered = found->second;
      entries_.erase(found);
    }
    registered->Release();  // outside the lock: the object's end may use the table again
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) override {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!auralink::platform::com::IsComUsableOnThisThread()) return CO_E_NOTINITIALIZED;
    IUnknown* registered = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = entries_.find(dwCookie);
      if (found == entries_.end()) return E_INVALIDARG;
      registered = found->second;
      registered->AddRef();  // a revocation meanwhile must not end it under our QueryInterface
    }
    HRESULT hr = registered->QueryInterface(riid, ppv);
    registered->Release();
    return hr;
  }

 private:
  std::mutex mutex_;
  DWORD lastCookie_ = 0;
  std::map<DWORD, IUnknown*> entries_;
};

}  // namespace

namespace auralink::platform::com {

IGlobalInterfaceTable* TheGlobalInterfaceTable() {
  static GlobalInterfaceTable* table = new GlobalInterfaceTable();  // never destroyed: used until exit
  return table;
}

}  // namespace auralink::platform::com
