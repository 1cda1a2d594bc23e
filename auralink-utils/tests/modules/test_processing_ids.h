// Identifiers of the test processing module, shared by the module and its tests.
#pragma once
#include <windows.h>
#include <auralink/platform/interface_id.h>

// Answers ProcessingObject with two items; declines the object "decline", fails on "fail".
AURALINK_DEFINE_GUID(CLSID_TestProcessing, 0x3F6B21C4, 0x9D0E, 0x4A57, 0xB1, 0x82, 0x6C, 0x0D, 0x4E, 0x95, 0x27, 0xA3);
// Refuses Initialize.
AURALINK_DEFINE_GUID(CLSID_TestUninitializableProcessing, 0x8A41D5E2, 0x1C7F, 0x4B39, 0x9E, 0x06, 0xD2, 0x73, 0x5B,
                     0xC8, 0x14, 0x6F);
AURALINK_DEFINE_GUID(LIBID_TestProcessingLib,
                     0xE05C97B1, 0x6A24, 0x4D8E, 0xA3, 0x5F, 0x19, 0xB7, 0xC0, 0x42, 0xD8, 0x6E);

// Exported by the module: how many test processing objects exist, and how often Terminate
// was called on one.
#define TEST_PROCESSING_COUNTS_FUNCTION "TestProcessingCounts"
typedef void (*TestProcessingCountsFunction)(int* liveObjects, int* terminations);
