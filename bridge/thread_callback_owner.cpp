#include "bridge/thread_callback_owner.hpp"

#include <atomic>
#include <cstdlib>
#include <utility>

#include "runtime/runtime_services.hpp"

namespace tessivec::bridge {

using common::Reference;
using runtime::VMLErrorCallBack;

namespace {

// An owner whose OS thread ended, with the runtime state that held its callback.
struct Ended {
    PyObject* owner;
    Ended* next;
};

// Pushed by ending threads without the interpreter lock, taken whole by a thread that
// holds it; never destroyed, so that a thread ending during the process's exit finds it.
std::atomic<Ended*> ended_owners{nullptr};

void hand_on(PyObject* owner) noexcept {
    auto* ended = static_cast<Ended*>(std::malloc(sizeof(Ended)));
    if (ended == nullptr) {
        return;  // the owner is kept for good
    }
    ended->owner = owner;
    ended->next = ended_owners.load(std::memory_order_relaxed);
    while (!ended_owners.compare_exchange_weak(ended->next, ended, std::memory_order_release,
                                               std::memory_order_relaxed)) {
    }
}

struct OwnerSlot {
    PyObject* owner = nullptr;  // a strong reference
    VMLErrorCallBack address = nullptr;
    bool clear_at_state_end = false;  // the main thread: its OS thread runs on

    ~OwnerSlot() {
        if (owner != nullptr) {
            hand_on(owner);
        }
    }
};

thread_local OwnerSlot this_thread;

constexpr char watch_name[] = "vantrel.mkl.tessivec error callback";

PyObject* watch_key() {
    static PyObject* key = PyUnicode_InternFromString(watch_name);
    return key;
}

// The destructor of the object the thread state's dict holds: see the header.
void thread_state_ends(PyObject* watch) {
    if (PyCapsule_GetPointer(watch, watch_name) != &this_thread) {
        return;  // cleared by another OS thread
    }
    PyObject* owner = std::exchange(this_thread.owner, nullptr);
    if (owner == nullptr) {
        return;
    }
    if (this_thread.clear_at_state_end && runtime::vmlGetErrorCallBack() == this_thread.address) {
        runtime::vmlClearErrorCallBack();
    }
    Py_DECREF(owner);
}

enum class ThreadKind { main, threading_thread, other };

// Whether `current` is the interpreter's oldest thread state, the main thread's, which
// lives until the interpreter is finalized.
bool is_first_thread_state(PyThreadState* current) {
    PyThreadState* state = PyInterpreterState_ThreadHead(PyThreadState_GetInterpreter(current));
    while (PyThreadState_Next(state) != nullptr) {
        state = PyThreadState_Next(state);
    }
    return state == current;
}

// Which kind of thread calls. A thread that the threading module did not start is a
// dummy thread to it, or is what it took for the main thread when it was first
// imported there; the threading module is not imported here for the asking.
bool thread_kind(ThreadKind& kind) {
    kind = ThreadKind::other;
    if (is_first_thread_state(PyThreadState_Get())) {
        kind = ThreadKind::main;
        return true;
    }
    Reference name(PyUnicode_FromString("threading"));
    Reference threading(name ? PyImport_GetModule(name.get()) : nullptr);
    if (!threading) {
        return !PyErr_Occurred();
    }
    Reference current(PyObject_CallMethod(threading.get(), "current_thread", nullptr));
    Reference main(current ? PyObject_CallMethod(threading.get(), "main_thread", nullptr)
                           : nullptr);
    Reference dummy(main ? PyObject_GetAttrString(threading.get(), "_DummyThread") : nullptr);
    if (!dummy) {
        return false;
    }
    const int is_dummy = PyObject_IsInstance(current.get(), dummy.get());
    if (is_dummy < 0) {
        return false;
    }
    if (is_dummy == 0 && current.get() != main.get()) {
        kind = ThreadKind::threading_thread;
    }
    return true;
}

// Where the calling thread ends with its thread state, has the state's end let go of
// the owner; false with an exception set on failure.
bool watch_thread_state() {
    PyObject* dict = watch_key() != nullptr ? PyThreadState_GetDict() : nullptr;
    if (dict == nullptr) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_RuntimeError, "no thread state to hold the error callback in");
        }
        return false;
    }
    if (PyDict_GetItemWithError(dict, watch_key()) != nullptr) {
        return true;
    }
    ThreadKind kind;
    if (PyErr_Occurred() || !thread_kind(kind)) {
        return false;
    }
    if (kind == ThreadKind::other) {
        return true;
    }
    Reference watch(PyCapsule_New(&this_thread, watch_name, thread_state_ends));
    if (!watch || PyDict_SetItem(dict, watch_key(), watch.get()) < 0) {
        return false;
    }
    this_thread.clear_at_state_end = kind == ThreadKind::main;
    return true;
}

}  // namespace

void drop_ended_callback_owners() {
    Ended* ended = ended_owners.exchange(nullptr, std::memory_order_acquire);
    while (ended != nullptr) {
        Ended* next = ended->next;
        Py_DECREF(ended->owner);
        std::free(ended);
        ended = next;
    }
}

PyObject* held_callback_owner() { return this_thread.owner; }

bool hold_callback_owner(PyObject* owner, VMLErrorCallBack address, Reference& previous) {
    if (owner != nullptr && !watch_thread_state()) {
        return false;
    }
    Py_XINCREF(owner);
    previous.reset(std::exchange(this_thread.owner, owner));
    this_thread.address = address;
    return true;
}

}  // namespace tessivec::bridge
