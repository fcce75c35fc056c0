#include "dispatch/ufuncs.hpp"

#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "common/reference.hpp"
#include "dispatch/loop.hpp"
#include "dispatch/mode_values.hpp"
#include "dispatch/plain_allocator.hpp"

namespace tessivec::dispatch {

namespace {

using common::Reference;

#include "dispatch/loop_table.inc"

// The settings of vm.la, vm.ha and vm.ep, in the order of the runtime's accuracies.
constexpr auto accuracy_settings = [] {
    std::array<LoopSetting, std::size(mode_values::accuracies)> settings{};
    for (std::size_t i = 0; i < settings.size(); ++i) {
        settings[i] = LoopSetting{mode_values::accuracies[i].value};
    }
    return settings;
}();
constexpr LoopSetting thread_accuracy{0};

// What NumPy keeps pointers to for as long as a ufunc lives: its loops, their data and
// types, and its name. vm's ufuncs live as long as the process.
struct UfuncStorage {
    Vector<PyUFuncGenericFunction> functions;
    Vector<void*> data;
    Vector<char> types;
    String name;
};
Deque<UfuncStorage> storage;

// Pickle finds a ufunc by its module and qualified name. NumPy before 2.1 lets neither
// be set: there pickle looks the ufunc's name ("exp", "la.exp") up in the imported
// modules, which finds the same object.
bool name_for_pickle(PyObject* ufunc, const char* attribute, const char* value) {
    Reference text(PyUnicode_FromString(value));
    if (!text) {
        return false;
    }
    const bool set = PyObject_SetAttrString(ufunc, attribute, text.get()) == 0;
    if (!set && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return true;
    }
    return set;
}

PyObject* new_ufunc(const Operation& operation, const LoopSetting& setting,
                    const char* prefix, const char* module) {
    UfuncStorage& kept = storage.emplace_back();
    const Shape& first = *operation.loops_begin[0].shape;
    int inputs = 0;
    for (std::size_t k = 0; k < first.operands; ++k) {
        inputs += first.kinds[k] != OperandKind::output;
    }
    const int outputs = static_cast<int>(first.operands) - inputs;
    for (std::size_t i = 0; i < operation.loop_count; ++i) {
        const Loop& loop = operation.loops_begin[i];
        kept.functions.push_back(loop.function);
        kept.data.push_back(const_cast<LoopSetting*>(&setting));
        kept.types.insert(kept.types.end(), loop.shape->types,
                          loop.shape->types + loop.shape->operands);
    }
    // A two-output ufunc of the thread's accuracy is named as its package reaches it
    // (vm.modf, of module vantrel.mkl): libraries that look a two-output ufunc up by its
    // name among their own functions (dask does) then find none and fail, where they
    // would silently take NumPy's same-named function for it.
    String owner = module;
    if (prefix != nullptr) {
        kept.name = String(prefix) + "." + operation.name;
    } else if (const char* dot = std::strrchr(module, '.'); outputs > 1 && dot != nullptr) {
        kept.name = String(dot + 1) + "." + operation.name;
        owner = String(module, dot);
    } else {
        kept.name = operation.name;
    }
    Reference ufunc(PyUFunc_FromFuncAndDataAndSignature(
        kept.functions.data(), kept.data.data(), kept.types.data(),
        static_cast<int>(operation.loop_count), inputs, outputs, operation.identity,
        kept.name.c_str(), operation.doc, 0, nullptr));
    if (!ufunc || !name_for_pickle(ufunc.get(), "__module__", owner.c_str()) ||
        !name_for_pickle(ufunc.get(), "__qualname__", kept.name.c_str())) {
        return nullptr;
    }
    return ufunc.release();
}

}  // namespace

PyObject* new_ufuncs(const char* accuracy, const char* module) {
    const LoopSetting* setting = &thread_accuracy;
    if (accuracy != nullptr) {
        setting = nullptr;
        for (std::size_t i = 0; i < std::size(mode_values::accuracies); ++i) {
            if (std::string_view(mode_values::accuracies[i].name) == accuracy) {
                setting = &accuracy_settings[i];
            }
        }
        if (setting == nullptr) {
            PyErr_Format(PyExc_ValueError, "no accuracy named %s", accuracy);
            return nullptr;
        }
    }
    Reference ufuncs(PyDict_New());
    if (!ufuncs) {
        return nullptr;
    }
    for (const Operation& operation : operations) {
        Reference ufunc(new_ufunc(operation, *setting, accuracy, module));
        if (!ufunc || PyDict_SetItemString(ufuncs.get(), operation.name, ufunc.get()) < 0 ||
            (operation.alias != nullptr &&
             PyDict_SetItemString(ufuncs.get(), operation.alias, ufunc.get()) < 0)) {
            return nullptr;
        }
    }
    return ufuncs.release();
}

}  // namespace tessivec::dispatch
