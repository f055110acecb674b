// Dict keys and attribute names made once and interned, so that building
// many records (every parse result, the tokens of a long formula, the
// diagnostics of a corpus) neither allocates key strings nor looks them up in
// the interpreter's table of interned strings on each use.
#pragma once

#include <nanobind/nanobind.h>

namespace quorvel::python {

namespace nb = nanobind;

// Only touched with the interpreter lock held. The object is kept for the
// life of the process; later module objects share it.
class InternedKey {
public:
    explicit constexpr InternedKey(const char* text) : text_(text) {}

    PyObject* get() {
        if (object_ == nullptr) {
            object_ = PyUnicode_InternFromString(text_);
            if (object_ == nullptr) throw nb::python_error();
        }
        return object_;
    }
    nb::object object() { return nb::borrow(get()); }

private:
    const char* text_;
    PyObject* object_ = nullptr;
};

// dict[key] = value, throwing nb::python_error when the interpreter fails.
inline void set_item(nb::handle dict, InternedKey& key, nb::handle value) {
    if (PyDict_SetItem(dict.ptr(), key.get(), value.ptr()) != 0) throw nb::python_error();
}

}  // namespace quorvel::python
