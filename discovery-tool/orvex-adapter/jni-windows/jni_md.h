// The machine-dependent part of the JNI headers for 64-bit Windows: jint is 32 bits and
// jlong 64 bits there too, and JNI functions use the system's calling convention.
#pragma once

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;
