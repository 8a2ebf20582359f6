#pragma once

#include <memory>

// Sole ownership of an object that a C library made and frees with its own
// function, e.g. TCOwner<X509, X509_free>.
template <typename TObject, void (*Free)(TObject*)> struct TCFree {
    void operator()(TObject* object) const { Free(object); }
};

template <typename TObject, void (*Free)(TObject*)>
using TCOwner = std::unique_ptr<TObject, TCFree<TObject, Free>>;
