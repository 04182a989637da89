// The host automation contract: late-bound calls on the host's objects, by name or by
// dispatch identifier, with the argument types and passing the host expects. A
// failing call raises the host's error unchanged (number, source, description, help
// file, help context) and returns its number.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <initializer_list>

#include "server/comhelp.h"

namespace host {

// A name or a dispatch identifier of a host member.
struct Member {
    Member(const wchar_t* n) : name(n) {}
    Member(DISPID i) : id(i) {}
    const wchar_t* name = nullptr;
    DISPID id = DISPID_UNKNOWN;
};

class Object {
public:
    Object() = default;
    explicit Object(com::Ptr<IDispatch> d) : d_(std::move(d)) {}

    // Creates the object registered under `progId` ("MaxIm.Application", ...).
    static HRESULT create(const wchar_t* progId, Object& out);

    // The same object seen through another of its interfaces (the host's Documents
    // or Document interface).
    HRESULT as(REFIID iid, Object& out) const;

    HRESULT get(Member m, com::Var& out) const;
    HRESULT get(Member m, std::initializer_list<com::Var> args, com::Var& out) const;
    HRESULT put(Member m, const com::Var& value) const;
    // A call whose result is wanted (`out`) or not (null).
    HRESULT call(Member m, std::initializer_list<com::Var> args, com::Var* out = nullptr) const;

    // A property read and converted as the contract reads it: one host call and one
    // conversion, each raising its own error.
    HRESULT getI2(Member m, SHORT& out) const;
    HRESULT getBool(Member m, bool& out) const;
    HRESULT getR4(Member m, float& out) const;
    HRESULT getR8(Member m, double& out) const;
    HRESULT getText(Member m, com::Bstr& out) const;
    HRESULT getObject(Member m, Object& out) const;
    HRESULT getObject(Member m, std::initializer_list<com::Var> args, Object& out) const;

    IDispatch* get() const { return d_.get(); }
    explicit operator bool() const { return static_cast<bool>(d_); }

private:
    HRESULT invoke(Member m, WORD flags, VARIANT* args, UINT count, bool put, com::Var* out) const;
    com::Ptr<IDispatch> d_;
};

// Conversions of host results, as the contract reads them; a value that does not
// convert raises the runtime's conversion error.
HRESULT toI2(const com::Var& v, SHORT& out);
HRESULT toBool(const com::Var& v, bool& out);
HRESULT toR4(const com::Var& v, float& out);
HRESULT toR8(const com::Var& v, double& out);
HRESULT toText(const com::Var& v, com::Bstr& out);
HRESULT toObject(const com::Var& v, Object& out);
// Element `index` (an absolute index, as written in code) of a one-dimensional array.
HRESULT arrayElement(const com::Var& array, LONG index, com::Var& out);

// A by-reference argument pointing at the caller's variable (which must outlive the
// call); the variant owns nothing.
com::Var byRef(SHORT* value);
com::Var byRef(float* value);

} // namespace host
