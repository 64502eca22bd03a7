#pragma once

#include <new>
#include <utility>

/// Storage for an object that is made on first use and never destroyed: the
/// process's last steps may still use it after static destructors have run.
/// The object lives in static storage, not on the heap, so making it needs no
/// memory: a process that fails because memory ran out can still make it to
/// report the failure. Declare it as a function's static local:
///   static NeverDestroyed<Sink> sink(arguments);
///   return sink.Get();
template <typename T>
class NeverDestroyed {
 public:
  template <typename... Args>
  explicit NeverDestroyed(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  NeverDestroyed(const NeverDestroyed&) = delete;
  NeverDestroyed& operator=(const NeverDestroyed&) = delete;

  T& Get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};
