// Module entry (placeholder: the boundary lands with the binding layer).
#include <Python.h>

static PyModuleDef orvek_module = {PyModuleDef_HEAD_INIT, "orvek_core", "ORVEK core Python module.", 0,
                                   nullptr, nullptr, nullptr, nullptr, nullptr};

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_orvek_core() {
    return PyModule_Create(&orvek_module);
}
