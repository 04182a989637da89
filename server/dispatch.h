// Checks of a late-bound call that hold for any interface dispatched through its type
// information, made before the runtime's dispatch reads the call: the runtime follows
// DISPPARAMS unchecked, and Wine's keeps references to object arguments of some calls
// it refuses or converts.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "server/comhelp.h"

namespace dispatch {

// What a call's DISPPARAMS must be before anything reads them: the arrays their counts
// promise, no more names than arguments, and arguments that can be read.
HRESULT checkParams(const DISPPARAMS* params, UINT* argErr);

// A member's declared argument count (not counting the result).
struct Signature {
    MEMBERID id;
    INVOKEKIND kind;
    UINT arguments;
};

// The declared signatures of an interface's members, read once from its type information.
// An instance lives at namespace scope, where it starts zeroed (INIT_ONCE_STATIC_INIT).
class Signatures {
public:
    // The signature of the member a call names, or null for an unknown member or
    // invocation kind (left to the runtime, which refuses them).
    const Signature* find(ITypeInfo* ti, DISPID id, WORD flags);
private:
    static BOOL CALLBACK read(PINIT_ONCE, PVOID context, PVOID*);
    Signature list_[16];
    UINT count_;
    INIT_ONCE once_;
};

// The call's argument count against the member's. Refused here: the runtime's own
// refusal of a wrong count can keep a reference to an object argument.
HRESULT checkArgumentCount(const Signature* s, const DISPPARAMS& params);

// A method call's named arguments put in the places of their parameters (a parameter's
// identifier is its position, as GetIDsOfNames gives it): `slots` receives the
// arguments in the runtime's reversed order and `out` describes them. Wine's
// type-library dispatch keeps a reference to an object argument of a failing call whose
// arguments all came by name; given them in place, it takes none.
HRESULT positional(const DISPPARAMS& in, VARIANT (&slots)[com::kMaxArguments], DISPPARAMS& out, UINT* argErr);

} // namespace dispatch
