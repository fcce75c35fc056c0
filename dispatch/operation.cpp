#include "dispatch/operation.hpp"

#include "dispatch/loop_table.hpp"
#include "dispatch/reference.hpp"

namespace tessivec::dispatch {

namespace {

void dealloc_operation(PyObject* self) {
    auto* operation = reinterpret_cast<Operation*>(self);
    Py_XDECREF(operation->name);
    Py_XDECREF(operation->parameter_names);
    Py_XDECREF(operation->doc);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // instances of a heap type own a reference to it
}

// Every loop of an operation must take the arguments the Python signature names.
bool loops_agree(std::span<const Loop> loops, Py_ssize_t positional) {
    for (const Loop& loop : loops) {
        if (loop.arrays != loops[0].arrays || loop.scalars != loops[0].scalars ||
            loop.outputs != loops[0].outputs ||
            static_cast<Py_ssize_t>(loop.arrays + loop.scalars) != positional) {
            return false;
        }
    }
    return true;
}

}  // namespace

PyTypeObject* operation_type = nullptr;

bool ready_operation_type() {
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_operation)},
        {Py_tp_doc, const_cast<char*>("The loops and names of one vm operation.")},
        {0, nullptr},
    };
    static PyType_Spec spec = {"vantrel.mkl._dispatch.Operation", sizeof(Operation), 0,
                               Py_TPFLAGS_DEFAULT, slots};
    operation_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    return operation_type != nullptr;
}

PyObject* new_operation_function(PyObject* name, PyObject* parameter_names, PyObject* doc,
                                 PyObject* module_name) {
    if (!PyUnicode_Check(name) || !PyTuple_Check(parameter_names) || !PyUnicode_Check(doc)) {
        PyErr_SetString(PyExc_TypeError, "operation(name: str, parameter_names: tuple, doc: str)");
        return nullptr;
    }
    const char* name_text = PyUnicode_AsUTF8(name);
    const char* doc_text = PyUnicode_AsUTF8(doc);
    if (name_text == nullptr || doc_text == nullptr) {
        return nullptr;
    }
    const std::span<const Loop> loops = loops_of(name_text);
    if (loops.empty() || !loops_agree(loops, PyTuple_GET_SIZE(parameter_names))) {
        PyErr_Format(PyExc_ValueError, "no loops take the arguments of %R%R", name,
                     parameter_names);
        return nullptr;
    }
    Reference self(PyType_GenericAlloc(operation_type, 0));
    if (!self) {
        return nullptr;
    }
    auto* operation = reinterpret_cast<Operation*>(self.get());
    operation->loops = loops;
    operation->arrays = loops[0].arrays;
    operation->scalars = loops[0].scalars;
    operation->outputs = loops[0].outputs;
    Py_INCREF(name);
    Py_INCREF(parameter_names);
    Py_INCREF(doc);
    operation->name = name;
    operation->parameter_names = parameter_names;
    operation->doc = doc;
    operation->method = PyMethodDef{
        name_text, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call_operation)),
        METH_FASTCALL | METH_KEYWORDS, doc_text};
    return PyCFunction_NewEx(&operation->method, self.get(), module_name);
}

}  // namespace tessivec::dispatch
