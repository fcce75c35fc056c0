#include "dispatch/ufuncs.hpp"

#include <deque>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/loop.hpp"
#include "dispatch/mode_values.hpp"

namespace tessivec::dispatch {

namespace {

#include "dispatch/loop_table.inc"

struct Accuracy {
    const char* name;
    LoopSetting setting;
};

constexpr Accuracy accuracies[] = {
    {"la", {mode_values::LA}}, {"ha", {mode_values::HA}}, {"ep", {mode_values::EP}}};
constexpr LoopSetting thread_accuracy{0};

// What NumPy keeps pointers to for as long as a ufunc lives: its loops, their data and
// types, and its name. vm's ufuncs live as long as the process.
struct UfuncStorage {
    std::vector<PyUFuncGenericFunction> functions;
    std::vector<void*> data;
    std::vector<char> types;
    std::string name;
};
std::deque<UfuncStorage> storage;

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
    kept.name = prefix != nullptr ? std::string(prefix) + "." + operation.name : operation.name;
    PyObject* ufunc = PyUFunc_FromFuncAndDataAndSignature(
        kept.functions.data(), kept.data.data(), kept.types.data(),
        static_cast<int>(operation.loop_count), inputs, outputs, operation.identity,
        kept.name.c_str(), operation.doc, 0, nullptr);
    if (ufunc == nullptr) {
        return nullptr;
    }
    PyObject* module_name = PyUnicode_FromString(module);
    PyObject* qualified = PyUnicode_FromString(kept.name.c_str());
    const bool named = module_name != nullptr && qualified != nullptr &&
                       PyObject_SetAttrString(ufunc, "__module__", module_name) == 0 &&
                       PyObject_SetAttrString(ufunc, "__qualname__", qualified) == 0;
    Py_XDECREF(module_name);
    Py_XDECREF(qualified);
    if (!named) {
        Py_DECREF(ufunc);
        return nullptr;
    }
    return ufunc;
}

}  // namespace

PyObject* new_ufuncs(const char* accuracy, const char* module) {
    const LoopSetting* setting = &thread_accuracy;
    if (accuracy != nullptr) {
        setting = nullptr;
        for (const Accuracy& known : accuracies) {
            if (std::string_view(known.name) == accuracy) {
                setting = &known.setting;
            }
        }
        if (setting == nullptr) {
            PyErr_Format(PyExc_ValueError, "no accuracy named %s", accuracy);
            return nullptr;
        }
    }
    PyObject* ufuncs = PyDict_New();
    if (ufuncs == nullptr) {
        return nullptr;
    }
    for (const Operation& operation : operations) {
        PyObject* ufunc = new_ufunc(operation, *setting, accuracy, module);
        if (ufunc == nullptr || PyDict_SetItemString(ufuncs, operation.name, ufunc) < 0) {
            Py_XDECREF(ufunc);
            Py_DECREF(ufuncs);
            return nullptr;
        }
        Py_DECREF(ufunc);
    }
    return ufuncs;
}

}  // namespace tessivec::dispatch

namespace tessivec::dispatch {

const char* pack_doc(const char* name) {
    const std::string_view wanted(name);
    for (auto [known, doc] : {std::pair{"packi", packi_doc}, std::pair{"packv", packv_doc},
                              std::pair{"packm", packm_doc}, std::pair{"unpacki", unpacki_doc},
                              std::pair{"unpackv", unpackv_doc},
                              std::pair{"unpackm", unpackm_doc}}) {
        if (wanted == known) {
            return doc;
        }
    }
    return nullptr;
}

}  // namespace tessivec::dispatch
