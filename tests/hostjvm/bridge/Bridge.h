// A jvm.dll for Wine that runs the host JDK's HotSpot: what the parts of the bridge share.
// Windows code calls us with the Windows x64 convention; libjvm.so expects System V. Every table we hand
// out is therefore a proxy whose slots are ms_abi functions forwarding to the real table.
#pragma once

// The host's jni.h declares the invocation functions with the System V convention; this module defines
// them with the Windows one, so its declarations are moved out of the way.
#define JNI_CreateJavaVM hostJniCreateJavaVM
#define JNI_GetDefaultJavaVMInitArgs hostJniGetDefaultJavaVMInitArgs
#define JNI_GetCreatedJavaVMs hostJniGetCreatedJavaVMs
#include <jni.h>
#undef JNI_CreateJavaVM
#undef JNI_GetDefaultJavaVMInitArgs
#undef JNI_GetCreatedJavaVMs

#include <string>

#define WIN_JNI __attribute__((ms_abi))

namespace hostjvm {

// The first member is where Windows code looks for the function table; the second is the real object.
struct ProxyEnv {
    void* const* functions;
    JNIEnv* real;
};
struct ProxyVm {
    void* const* functions;
    JavaVM* real;
};

inline JNIEnv* realEnv(JNIEnv* env) { return reinterpret_cast<ProxyEnv*>(env)->real; }

extern void* const envFunctions[];  // generated from jni.h

// The one proxy of a real JNIEnv (created on first use, kept for the process's life).
JNIEnv* proxyEnv(JNIEnv* real);
// The proxy JavaVM, null before a virtual machine was created.
JavaVM* proxyVm();
JavaVM* wrapVm(JavaVM* real);

// A Windows x64 va_list is a row of 8-byte slots: already a jvalue[] except that a float arrives promoted
// to double. Answers the slots themselves or, for a method with float parameters, `buffer` narrowed.
inline constexpr int kMaxArguments = 256;
const jvalue* windowsArguments(JNIEnv* real, jmethodID method, const char* slots, jvalue* buffer);
void setJvmti(JavaVM* real);

// Slots written by hand.
namespace jni {
WIN_JNI jint GetJavaVM(JNIEnv* env, JavaVM** vm);
WIN_JNI jint RegisterNatives(JNIEnv* env, jclass clazz, const JNINativeMethod* methods, jint count);
WIN_JNI jstring NewString(JNIEnv* env, const jchar* chars, jsize length);
}  // namespace jni

// ---- paths ----
// Windows to Unix forms of paths that reach Java: "C:\x;D:\y" becomes "/prefix/drive_c/x:/y".
std::string unixPath(const std::string& windowsPath);
std::string unixPathList(const std::string& windowsList);
bool isAbsoluteWindowsPath(const std::u16string& text);
// Whether absolute Windows paths handed to Java as plain strings are translated too (on unless the
// options ask to keep them).
void setTranslateStrings(bool on);
bool translateStrings();
std::u16string toUtf16(const std::string& utf8);
std::string toUtf8(const std::u16string& text);

// ---- standard streams ----
// Points HotSpot's descriptors 0, 1 and 2 at this process's Windows standard handles.
void bindStandardStreams();
// Waits until Java's output has reached the Windows handles (called on a Wine thread).
void drainStandardStreams();
// At process exit, when the relay threads have been ended: passes on what Java left in the pipes.
void flushStandardStreamsAtExit();

// A message on the Windows standard error handle (only from Wine threads).
void report(const std::string& text);

}  // namespace hostjvm
