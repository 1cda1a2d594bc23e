// The part of the Windows API that Auralink uses, provided on Linux.
#pragma once
#include "windef.h"
#include "winerror.h"
#include "guiddef.h"
#include "winbase.h"
#include "winreg.h"
#include "stringapiset.h"
