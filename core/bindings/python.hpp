// The CPython limited API of 3.10 (the stable ABI) and the few helpers every binding unit shares.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace karvex::bindings {

// An owned (strong) reference, released when it goes out of scope.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) noexcept : p_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference over to the caller.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }

 private:
  PyObject* p_ = nullptr;
};

// A process-wide object created on first need with the interpreter lock held and kept for the
// life of the process. Creating it can run Python code, which may let another thread create it
// too: the first one stored wins. Returns nullptr with the error set when creation fails.
template <class Create>
PyObject* create_once(PyObject*& slot, Create&& create) {
  if (slot == nullptr) {
    PyObject* created = create();
    if (created == nullptr) return nullptr;
    if (slot == nullptr) {
      slot = created;
    } else {
      Py_DECREF(created);
    }
  }
  return slot;
}

// Takes the interpreter lock back after PyEval_SaveThread. While the interpreter finalises, CPython
// ends a thread that asks for the lock with pthread_exit, which unwinds the stack like an exception
// that every frame must let pass: no frame from here up to the caller may be noexcept, and no
// catch(...) may swallow it. The call's objects that hold Python references or Python memory must
// not release them on that unwinding (the lock is not held); they ask interpreter_lock_lost() and
// leave them behind: the process is ending.
void retake_interpreter_lock(PyThreadState* saved);
// True on a thread that is being ended because it asked for the lock during finalisation.
bool interpreter_lock_lost() noexcept;

// Runs `work(saved)` with the interpreter lock released and returns its result. `work` must not
// touch any Python object (but may hand `saved` to signal_raised) and throws nothing but what
// retake_interpreter_lock lets pass: this is the only place where module code runs without the
// lock.
template <class Work>
auto without_interpreter_lock(Work&& work) {
  PyThreadState* const saved = PyEval_SaveThread();
  // ---- interpreter lock released: no Python object is touched until it is re-acquired ----
  auto result = work(saved);
  // ---- interpreter lock re-acquired ----
  retake_interpreter_lock(saved);
  return result;
}

// Called inside without_interpreter_lock with its `saved` thread state: takes the lock for a moment
// and runs the handlers of signals that arrived meanwhile (only on the main thread; elsewhere this
// does nothing). True when one raised, e.g. KeyboardInterrupt: the exception stays set, for the
// call to report once it holds the lock again. May end the thread as retake_interpreter_lock does.
bool signal_raised(PyThreadState* saved);

// Raises the module's PanicException (created on first need) with `format` rendered as by
// PyUnicode_FromFormat. Always returns nullptr, for `return panic(...)`.
PyObject* panic(const char* format, ...);

// A result object could not be created (memory exhausted): the pending error is reported as
// unraisable and the call fails with PanicException "PyObject pointer is null".
PyObject* object_not_created();

// Takes the pending exception and renders it as "<type name>: <message>" (just the type name
// when the message is empty). Returns a new string; clears the exception.
PyObject* take_error_text();

// The TypeError for an object that is not of the required type: "'<type>' object is not an
// instance of '<required>'" (for None: "'None' is not an instance of '<required>'").
void set_not_an_instance(PyObject* object, PyTypeObject* required);

// Adds the note rendered from `format` as by PyUnicode_FromFormat to the pending exception through
// its add_note method; where exceptions have no add_note (Python 3.10), or the note cannot be
// rendered, the exception is left as it is.
void add_note(const char* format, ...);

// Adds "while processing '<parameter>'" to the pending exception, as add_note does.
void add_parameter_note(const char* parameter);

}  // namespace karvex::bindings
