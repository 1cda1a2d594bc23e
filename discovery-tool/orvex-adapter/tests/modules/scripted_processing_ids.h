// Identifiers of the scripted processing module, shared by the module and the tests.
#pragma once
#include <windows.h>
#include <auralink/platform/interface_id.h>

AURALINK_DEFINE_GUID(CLSID_ScriptedProcessing,
                     0x5C2E8A17, 0x3B94, 0x4F60, 0x8D, 0x21, 0xA7, 0x4E, 0x19, 0xC3, 0x6B, 0x52);
AURALINK_DEFINE_GUID(LIBID_ScriptedProcessingLib,
                     0x9E71B3D4, 0x2F08, 0x4C6A, 0xB5, 0x3D, 0x84, 0x1A, 0x6F, 0x27, 0xE0, 0x9C);
