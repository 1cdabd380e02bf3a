// Windows x64 machine-dependent JNI types, used in place of the host JDK's Linux variant.
#ifndef VEXLO_JNI_MD_H
#define VEXLO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
