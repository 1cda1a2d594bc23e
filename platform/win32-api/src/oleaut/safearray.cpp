// SAFEARRAY with Windows' layout and ownership: the element type lives in a hidden header
// just before the descriptor (the vartype in its last 32 bits, or the interface IID), the
// bounds are stored last dimension first, and indices are given leftmost dimension first,
// the leftmost varying fastest in memory. Arrays of BSTR, VARIANT and interface pointers
// own their elements: putting copies in, getting copies out, destroying frees them.
#include <oleauto.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kHiddenBytes = sizeof(GUID);
constexpr USHORT kCallerOwnedData = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
constexpr ULONG kMaxLocks = 0xFFFF;

size_t DescriptorBytes(UINT cDims) { return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND); }
unsigned char* BlockOf(SAFEARRAY* psa) { return reinterpret_cast<unsigned char*>(psa) - kHiddenBytes; }

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_UNKNOWN: case VT_DISPATCH: return sizeof(IUnknown*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// Windows records an interface array's IID instead of its vartype; both share the header.
USHORT TypeFeatures(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    case VT_UNKNOWN: return FADF_HAVEIID | FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_HAVEIID | FADF_DISPATCH;
    default: return FADF_HAVEVARTYPE;
  }
}

void WriteTypeHeader(SAFEARRAY* psa, VARTYPE vt) {
  unsigned char* hidden = BlockOf(psa);
  if (psa->fFeatures & FADF_HAVEIID) {
    const IID& iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
    std::memcpy(hidden, &iid, sizeof iid);
  } else {
    DWORD stored = vt;
    std::memcpy(hidden + kHiddenBytes - sizeof stored, &stored, sizeof stored);
  }
}

// Elements in all dimensions, or false when the product overflows what one block can hold.
bool CountCells(UINT cDims, const SAFEARRAYBOUND* bounds, ULONG elementSize, size_t& cells) {
  uint64_t count = 1;
  for (UINT i = 0; i < cDims; ++i) {
    count *= bounds[i].cElements;
    if (count * elementSize > UINT32_MAX) return false;
  }
  cells = static_cast<size_t>(count);
  return true;
}
size_t CellsOf(const SAFEARRAY* psa) {
  size_t cells = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) cells *= psa->rgsabound[i].cElements;
  return cells;
}

// A descriptor with its hidden header and zeroed data (zero reads as VT_EMPTY, null BSTR,
// null interface), so every cell is valid to release at once.
SAFEARRAY* AllocateArray(UINT cDims, USHORT features, ULONG elementSize, size_t cells) {
  auto* block = static_cast<unsigned char*>(std::calloc(1, kHiddenBytes + DescriptorBytes(cDims)));
  if (!block) return nullptr;
  void* data = std::calloc(cells ? cells : 1, elementSize);
  if (!data) {
    std::free(block);
    return nullptr;
  }
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = features;
  psa->cbElements = elementSize;
  psa->pvData = data;
  return psa;
}

void ReleaseCell(USHORT features, void* cell) {
  if (features & FADF_BSTR) {
    SysFreeString(*static_cast<BSTR*>(cell));
    *static_cast<BSTR*>(cell) = nullptr;
  } else if (features & FADF_VARIANT) {
    VariantClear(static_cast<VARIANT*>(cell));
  } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown*& unknown = *static_cast<IUnknown**>(cell);
    if (unknown) unknown->Release();
    unknown = nullptr;
  }
}

// Copies one element into an empty (zeroed or freshly initialised) destination cell.
HRESULT CopyCellInto(USHORT features, ULONG elementSize, void* dest, const void* source) {
  if (features & FADF_BSTR) {
    BSTR text = *static_cast<const BSTR*>(source);
    BSTR copy = text ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text)) : nullptr;
    *static_cast<BSTR*>(dest) = copy;
    return text && !copy ? E_OUTOFMEMORY : S_OK;
  }
  if (features & FADF_VARIANT) {
    VariantInit(static_cast<VARIANT*>(dest));
    return VariantCopy(static_cast<VARIANT*>(dest), static_cast<const VARIANT*>(source));
  }
  if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unknown = *static_cast<IUnknown* const*>(source);
    if (unknown) unknown->AddRef();
    *static_cast<IUnknown**>(dest) = unknown;
    return S_OK;
  }
  std::memcpy(dest, source, elementSize);
  return S_OK;
}

unsigned char* CellAt(SAFEARRAY* psa, size_t index) { return static_cast<unsigned char*>(psa->pvData) + index * psa->cbElements; }

// Holds the array's lock for the duration of one element operation.
class ScopedLock {
 public:
  explicit ScopedLock(SAFEARRAY* psa) : psa_(psa), result_(SafeArrayLock(psa)) {}
  ~ScopedLock() {
    if (SUCCEEDED(result_)) SafeArrayUnlock(psa_);
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;
  HRESULT Result() const { return result_; }

 private:
  SAFEARRAY* psa_;
  HRESULT result_;
};

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  ULONG elementSize = ElementSize(vt);
  size_t cells = 0;
  if (!rgsabound || cDims == 0 || cDims > 0xFFFF || elementSize == 0) return nullptr;
  if (!CountCells(cDims, rgsabound, elementSize, cells)) return nullptr;
  SAFEARRAY* psa = AllocateArray(cDims, TypeFeatures(vt), elementSize, cells);
  if (!psa) return nullptr;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  WriteTypeHeader(psa, vt);
  return psa;
}

// Windows marks arrays made here (its descriptor and data share one block); the marker says
// how the array was made, so copies do not carry it.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  SAFEARRAY* psa = SafeArrayCreate(vt, 1, &bound);
  if (psa) psa->fFeatures |= FADF_CREATEVECTOR;
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  if (psa->pvData) {
    size_t cells = CellsOf(psa);
    for (size_t i = 0; i < cells; ++i) ReleaseCell(psa->fFeatures, CellAt(psa, i));
    if (!(psa->fFeatures & kCallerOwnedData)) std::free(psa->pvData);
  }
  std::free(BlockOf(psa));
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (!psa || !rgIndices || !ppvData || psa->cDims == 0 || !psa->pvData) return E_INVALIDARG;
  size_t cell = 0;
  size_t stride = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - i];
    int64_t offset = int64_t{rgIndices[i]} - bound.lLbound;
    if (offset < 0 || offset >= int64_t{bound.cElements}) return DISP_E_BADINDEX;
    cell += static_cast<size_t>(offset) * stride;
    stride *= bound.cElements;
  }
  *ppvData = CellAt(psa, cell);
  return S_OK;
}

// A BSTR or interface pointer is passed as the value itself; every other type by address.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  bool passedByValue = psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
  if (!pv && !passedByValue) return E_INVALIDARG;
  ScopedLock lock(psa);
  if (FAILED(lock.Result())) return lock.Result();
  void* cell = nullptr;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  if (psa->fFeatures & FADF_VARIANT) return VariantCopy(static_cast<VARIANT*>(cell), static_cast<VARIANT*>(pv));
  if (passedByValue) {
    // Copy first so that putting an element onto itself stays valid.
    void* replacement = nullptr;
    hr = CopyCellInto(psa->fFeatures, psa->cbElements, &replacement, &pv);
    if (FAILED(hr)) return hr;
    ReleaseCell(psa->fFeatures, cell);
    std::memcpy(cell, &replacement, sizeof replacement);
    return S_OK;
  }
  std::memcpy(cell, pv, psa->cbElements);
  return S_OK;
}

// The caller receives its own copy: a new BSTR, a deep-copied VARIANT (written over *pv
// without clearing it), an AddRef'ed interface.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  ScopedLock lock(psa);
  if (FAILED(lock.Result())) return lock.Result();
  void* cell = nullptr;
  HRESULT hr = SafeArrayPtrOfIndex(psa, rgIndices, &cell);
  if (FAILED(hr)) return hr;
  return CopyCellInto(psa->fFeatures, psa->cbElements, pv, cell);
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(int64_t{bound.lLbound} + int64_t{bound.cElements} - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEIID) {
    *pvt = (psa->fFeatures & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
    return S_OK;
  }
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    DWORD stored = 0;
    std::memcpy(&stored, BlockOf(psa) + kHiddenBytes - sizeof stored, sizeof stored);
    *pvt = static_cast<VARTYPE>(stored);
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  if (locks.fetch_add(1) >= kMaxLocks) {
    locks.fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  std::atomic_ref<ULONG> locks(psa->cLocks);
  ULONG current = locks.load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!locks.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  if (psa->cDims == 0 || !psa->pvData || psa->cbElements == 0) return E_INVALIDARG;
  size_t cells = CellsOf(psa);
  USHORT features = psa->fFeatures & ~(kCallerOwnedData | FADF_CREATEVECTOR);
  SAFEARRAY* copy = AllocateArray(psa->cDims, features, psa->cbElements, cells);
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(BlockOf(copy), BlockOf(psa), kHiddenBytes);
  std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  for (size_t i = 0; i < cells; ++i) {
    HRESULT hr = CopyCellInto(features, psa->cbElements, CellAt(copy, i), CellAt(psa, i));
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

}  // extern "C"
