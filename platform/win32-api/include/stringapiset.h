// Conversion between narrow (multi-byte) and wide text. Narrow text is UTF-8 on Linux, so
// the ANSI and OEM code pages are UTF-8 too; wide text is UTF-32 (wchar_t).
#pragma once
#include <string>
#include <string_view>

#include "windef.h"
#include "winerror.h"
#include "wtypes.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_NO_BEST_FIT_CHARS 0x00000400

#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif

extern "C" {
// Counts include the terminating zero when the input length is -1. An output size of 0
// asks for the needed size; a too-small buffer gives 0 (ERROR_INSUFFICIENT_BUFFER).
// Ill-formed input becomes U+FFFD (or, for the ANSI code pages when encoding, the
// default character) unless the *_ERR_INVALID_CHARS flag asks for failure instead.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
}

