// Everything an outside program needs to use "Touchpoint.Hub" and receive indications:
// the interfaces and their identifiers, the operation codes, the payload-array helpers
// and the sink base CHubSink (link against AuralinkUtils for the last two).
#pragma once
#include "guids.h"
#include "hub_sink.h"
#include "interfaces.h"
#include "operation_codes.h"
#include "payload_arrays.h"
