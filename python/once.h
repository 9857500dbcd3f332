#pragma once

#include <Python.h>

#include <atomic>

namespace tagatlas::py {

// A process-wide value created on first need and kept until the process ends.
//
// A thread that finds the creation in progress in another thread waits for it on a PyMutex, which
// parks the thread with the interpreter lock released: the creating thread may give up the lock
// while it builds (a garbage collection running finalizers is enough), and must be able to take it
// back. A failed creation leaves the cell empty, so the next caller tries again.
template <class T>
class Once {
 public:
  // Returns the value, creating it with make() if no thread has done so yet. make() returns the
  // new value, or nullptr with a Python exception set; get() then returns nullptr likewise.
  template <class Make>
  T* get(Make make) {
    if (T* value = value_.load(std::memory_order_acquire)) return value;
    PyMutex_Lock(&mutex_);
    // Unlocks also when make() throws, so a failed creation cannot block later callers forever.
    struct Unlock {
      PyMutex* m;
      ~Unlock() { PyMutex_Unlock(m); }
    } unlock{&mutex_};
    T* value = value_.load(std::memory_order_relaxed);
    if (value == nullptr) {
      value = make();
      if (value != nullptr) value_.store(value, std::memory_order_release);
    }
    return value;
  }

  // The value if it has been created, without creating it.
  T* peek() const { return value_.load(std::memory_order_acquire); }

 private:
  std::atomic<T*> value_{nullptr};
  PyMutex mutex_{};
};

}  // namespace tagatlas::py
