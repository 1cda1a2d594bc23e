#include "indication_sink.h"

#include <windows.h>
#include <oleauto.h>
#include <stringapiset.h>
#include <auralink/platform/text.h>

int CIndicationSink::HandleOperation(LONG operation, BSTR id, BSTR stream) {
  std::string narrowId = auralink::platform::BstrToNarrow(id);
  std::string narrowStream = auralink::platform::BstrToNarrow(stream);
  SysFreeString(id);
  SysFreeString(stream);
  return queue_.Push(operation, std::move(narrowId), std::move(narrowStream));
}
