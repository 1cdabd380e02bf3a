// The proxy JavaVM and JNIEnv objects and the slots of their tables that are not plain forwards.
//
// No thread-local storage here on purpose: GCC 12 miscompiles a __thread access inside an ms_abi
// function (a live %rdi across __tls_get_addr). A real JNIEnv belongs to one thread for its whole life,
// so a proxy per real pointer, looked up under a lock, is correct on every thread.
#include "Bridge.h"

#include <jvmti.h>

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace hostjvm {
namespace {

std::mutex proxiesLock;
std::unordered_map<JNIEnv*, ProxyEnv*> envProxies;
ProxyVm* vmProxy = nullptr;
jvmtiEnv* jvmti = nullptr;

struct Parameters {
    int count = 0;
    std::string floats;  // positions of the float parameters (most methods have none)
};
std::mutex signaturesLock;
std::unordered_map<jmethodID, Parameters> parametersOf;

WIN_JNI jint DestroyJavaVM(JavaVM* vm) {
    JavaVM* real = reinterpret_cast<ProxyVm*>(vm)->real;
    jint result = real->functions->DestroyJavaVM(real);
    drainStandardStreams();
    return result;
}

WIN_JNI jint AttachCurrentThread(JavaVM* vm, void** env, void* args) {
    JavaVM* real = reinterpret_cast<ProxyVm*>(vm)->real;
    JNIEnv* realEnv = nullptr;
    jint result = real->functions->AttachCurrentThread(real, reinterpret_cast<void**>(&realEnv), args);
    *env = result == JNI_OK ? proxyEnv(realEnv) : nullptr;
    return result;
}

WIN_JNI jint AttachCurrentThreadAsDaemon(JavaVM* vm, void** env, void* args) {
    JavaVM* real = reinterpret_cast<ProxyVm*>(vm)->real;
    JNIEnv* realEnv = nullptr;
    jint result = real->functions->AttachCurrentThreadAsDaemon(real, reinterpret_cast<void**>(&realEnv), args);
    *env = result == JNI_OK ? proxyEnv(realEnv) : nullptr;
    return result;
}

WIN_JNI jint DetachCurrentThread(JavaVM* vm) {
    JavaVM* real = reinterpret_cast<ProxyVm*>(vm)->real;
    return real->functions->DetachCurrentThread(real);
}

WIN_JNI jint GetEnv(JavaVM* vm, void** env, jint version) {
    // JVMTI and the other tool interfaces have no Windows-convention table here.
    if ((version & JVMTI_VERSION_MASK_INTERFACE_TYPE) != 0) {
        *env = nullptr;
        return JNI_EVERSION;
    }
    JavaVM* real = reinterpret_cast<ProxyVm*>(vm)->real;
    JNIEnv* realEnv = nullptr;
    jint result = real->functions->GetEnv(real, reinterpret_cast<void**>(&realEnv), version);
    *env = result == JNI_OK ? proxyEnv(realEnv) : nullptr;
    return result;
}

void* const vmFunctions[] = {
    nullptr,
    nullptr,
    nullptr,
    reinterpret_cast<void*>(&DestroyJavaVM),
    reinterpret_cast<void*>(&AttachCurrentThread),
    reinterpret_cast<void*>(&DetachCurrentThread),
    reinterpret_cast<void*>(&GetEnv),
    reinterpret_cast<void*>(&AttachCurrentThreadAsDaemon),
};
static_assert(sizeof vmFunctions == sizeof(JNIInvokeInterface_));

// The parameters of a method descriptor such as "(I[FLjava/lang/String;F)V".
Parameters parse(const char* descriptor) {
    Parameters parameters;
    for (const char* p = descriptor + 1; *p && *p != ')'; ++p, ++parameters.count) {
        if (*p == 'F') parameters.floats.push_back(static_cast<char>(parameters.count));
        while (*p == '[') ++p;
        if (*p == 'L') p = std::strchr(p, ';');
        if (!p) break;
    }
    return parameters;
}

}  // namespace

JNIEnv* proxyEnv(JNIEnv* real) {
    if (!real) return nullptr;
    std::lock_guard<std::mutex> hold(proxiesLock);
    ProxyEnv*& proxy = envProxies[real];
    if (!proxy) proxy = new ProxyEnv{envFunctions, real};
    return reinterpret_cast<JNIEnv*>(proxy);
}

JavaVM* proxyVm() { return reinterpret_cast<JavaVM*>(vmProxy); }

JavaVM* wrapVm(JavaVM* real) {
    vmProxy = new ProxyVm{vmFunctions, real};
    return proxyVm();
}

void setJvmti(JavaVM* real) {
    if (real->functions->GetEnv(real, reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_0) != JNI_OK) jvmti = nullptr;
}

const jvalue* windowsArguments(JNIEnv*, jmethodID method, const char* slots, jvalue* buffer) {
    Parameters parameters;
    {
        std::lock_guard<std::mutex> hold(signaturesLock);
        auto known = parametersOf.find(method);
        if (known != parametersOf.end()) {
            parameters = known->second;
        } else {
            char* name = nullptr;
            char* descriptor = nullptr;
            if (!jvmti || jvmti->GetMethodName(method, &name, &descriptor, nullptr) != JVMTI_ERROR_NONE) {
                report("[hostjvm] cannot read a method's descriptor; float arguments stay doubles\n");
                return reinterpret_cast<const jvalue*>(slots);
            }
            parameters = parse(descriptor);
            parametersOf.emplace(method, parameters);
            jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
            jvmti->Deallocate(reinterpret_cast<unsigned char*>(descriptor));
        }
    }
    if (parameters.floats.empty()) return reinterpret_cast<const jvalue*>(slots);
    std::memcpy(buffer, slots, static_cast<size_t>(parameters.count) * sizeof(jvalue));
    for (char position : parameters.floats) {
        auto index = static_cast<unsigned char>(position);
        double promoted;
        std::memcpy(&promoted, slots + 8 * index, sizeof promoted);
        buffer[index].f = static_cast<float>(promoted);
    }
    return buffer;
}

namespace jni {

WIN_JNI jint GetJavaVM(JNIEnv*, JavaVM** vm) {
    *vm = proxyVm();
    return *vm ? JNI_OK : JNI_ERR;
}

WIN_JNI jint RegisterNatives(JNIEnv*, jclass, const JNINativeMethod*, jint) {
    // Windows native code called from Java would need thunks in the other direction.
    report("[hostjvm] RegisterNatives is not supported\n");
    return JNI_ERR;
}

WIN_JNI jstring NewString(JNIEnv* env, const jchar* chars, jsize length) {
    JNIEnv* real = realEnv(env);
    std::u16string text(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(length));
    if (translateStrings() && isAbsoluteWindowsPath(text)) {
        std::u16string unix = toUtf16(unixPath(toUtf8(text)));
        return real->functions->NewString(real, reinterpret_cast<const jchar*>(unix.data()),
                                          static_cast<jsize>(unix.size()));
    }
    return real->functions->NewString(real, chars, length);
}

}  // namespace jni
}  // namespace hostjvm
