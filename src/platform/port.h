// The seam between the installer's logic and the operating system.
//
// Every platform service is a small abstract class (one header each in this
// folder). The logic reaches the current implementation through Port<T>::Get().
// Which implementation is the default is decided at link time: the Windows
// build links the adapters in win32/, the native build links the fakes in
// fake/. Tests install their own instance with ScopedPort for one scope.
#pragma once

#include <atomic>

namespace tide::platform {

template <class T>
class Port {
public:
    static T& Get() {
        T* p = override_.load(std::memory_order_acquire);
        return p ? *p : Default();
    }
    static void Set(T* p) { override_.store(p, std::memory_order_release); }
    // Defined once per build by the adapter or fake that implements T.
    static T& Default();

private:
    static inline std::atomic<T*> override_{nullptr};
};

// Installs an implementation for the lifetime of the object, then restores the
// previous one.
template <class T>
class ScopedPort {
public:
    explicit ScopedPort(T& impl) : prev_(Peek()) { Port<T>::Set(&impl); }
    ~ScopedPort() { Port<T>::Set(prev_); }
    ScopedPort(const ScopedPort&) = delete;
    ScopedPort& operator=(const ScopedPort&) = delete;

private:
    static T* Peek() {
        T* cur = &Port<T>::Get();
        return cur == &Port<T>::Default() ? nullptr : cur;
    }
    T* prev_;
};

}  // namespace tide::platform
