// The Python class Document: one editable document and its borrow state.
//
// Every method borrows the document itself, around the document operation
// only: readers shared, edits exclusively. Python arguments are converted
// before the borrow and results after its release, so no Python code runs
// while the tree is borrowed (a transform's report alone is made inside,
// from plain values, so that a report that cannot be made puts the document
// back); a call that meets a borrow fails at once with EditError "document
// borrow conflict: {}".
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>

#include "parse/context.hpp"
#include "syntax/document.hpp"
#include "syntax/serialize_options.hpp"

namespace quorvel::python {

namespace nb = nanobind;

struct PyDocument {
    syntax::document::Document document;
    // 0 free, n > 0 that many shared borrows, -1 one exclusive borrow.
    std::int64_t borrow = 0;
    // The context of the parser that made it, which reads its edits back;
    // null for a document no parser made, read with the default packages.
    std::shared_ptr<const parse::ParseContext> context;
};

// A new Document object owning `document`, with a free borrow state.
nb::object new_document_object(syntax::document::Document&& document,
                               std::shared_ptr<const parse::ParseContext> context = nullptr);

// The PyDocument of a Document object.
PyDocument& document_of(nb::handle object);

// Scope guards of the borrow rule; each releases its borrow on every path.
class SharedBorrow {
public:
    // EditError "document borrow conflict: Already mutably borrowed" while
    // an edit holds the document.
    explicit SharedBorrow(PyDocument& owner);
    ~SharedBorrow() { --owner_.borrow; }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

    const syntax::document::Document& document() const { return owner_.document; }

private:
    PyDocument& owner_;
};

class ExclusiveBorrow {
public:
    // EditError "document borrow conflict: Already borrowed" while any call
    // holds the document.
    explicit ExclusiveBorrow(PyDocument& owner);
    ~ExclusiveBorrow() { owner_.borrow = 0; }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

    syntax::document::Document& document() { return owner_.document; }

private:
    PyDocument& owner_;
};

// The serializer keyword options of `to_latex`, `to_tokenized_latex` and
// `serialize` (null: none given); a bad option raises ConfigError.
syntax::SerializeOptions serialize_options_from_kwargs(PyObject* kwargs);

// The body of the static method `Document.from_syntax(node)`; the module
// also holds it as the private `_document_from_syntax`, which rebuilds a
// pickled Document.
PyObject* from_syntax(PyObject* cls, PyObject* args, PyObject* kwargs);

// The module's private `_document_from_packed(data)`: rebuilds a pickled
// Document from its tree in packed form (bytes).
PyObject* from_packed(PyObject* module, PyObject* args);

// Adds the class Document to the module.
void register_document_class(nb::module_& m);

}  // namespace quorvel::python
