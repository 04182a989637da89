#include "server/dispatch.h"

namespace dispatch {

HRESULT checkParams(const DISPPARAMS* params, UINT* argErr) {
    if (!params) return E_INVALIDARG;
    if ((params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    for (UINT i = 0; i < params->cArgs; ++i) {
        if (!com::readable(params->rgvarg[i])) {
            if (argErr) *argErr = i;
            return E_POINTER;
        }
    }
    return S_OK;
}

namespace {
struct Reading {
    Signature* list;
    UINT* count;
    UINT capacity;
    ITypeInfo* ti;
};
} // namespace

BOOL CALLBACK Signatures::read(PINIT_ONCE, PVOID context, PVOID*) {
    auto* r = static_cast<Reading*>(context);
    TYPEATTR* attr = nullptr;
    if (FAILED(r->ti->GetTypeAttr(&attr))) return FALSE;
    const WORD funcs = attr->cFuncs;
    r->ti->ReleaseTypeAttr(attr);
    for (WORD i = 0; i < funcs && *r->count < r->capacity; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(r->ti->GetFuncDesc(i, &fd))) return FALSE;
        UINT declared = 0;
        for (SHORT p = 0; p < fd->cParams; ++p)
            if (!(fd->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) ++declared;
        r->list[(*r->count)++] = {fd->memid, fd->invkind, declared};
        r->ti->ReleaseFuncDesc(fd);
    }
    return TRUE;
}

const Signature* Signatures::find(ITypeInfo* ti, DISPID id, WORD flags) {
    Reading reading = {list_, &count_, ARRAYSIZE(list_), ti};
    if (!InitOnceExecuteOnce(&once_, &Signatures::read, &reading, nullptr)) return nullptr;
    for (UINT i = 0; i < count_; ++i)
        if (list_[i].id == id && (list_[i].kind & flags)) return &list_[i];
    return nullptr;
}

HRESULT checkArgumentCount(const Signature* s, const DISPPARAMS& params) {
    if (!s) return S_OK;
    if (params.cArgs > s->arguments) return DISP_E_BADPARAMCOUNT;
    if (params.cArgs < s->arguments) return DISP_E_PARAMNOTOPTIONAL;
    return S_OK;
}

HRESULT positional(const DISPPARAMS& in, VARIANT (&slots)[com::kMaxArguments], DISPPARAMS& out, UINT* argErr) {
    out = in;
    if (in.cNamedArgs == 0) return S_OK;
    if (in.cArgs > com::kMaxArguments) return DISP_E_BADPARAMCOUNT;
    const UINT n = in.cArgs, byPosition = n - in.cNamedArgs;
    bool filled[com::kMaxArguments] = {};
    for (UINT k = 0; k < byPosition; ++k) {  // rgvarg[n - 1] is the first argument
        slots[n - 1 - k] = in.rgvarg[n - 1 - k];
        filled[k] = true;
    }
    for (UINT i = 0; i < in.cNamedArgs; ++i) {
        const DISPID param = in.rgdispidNamedArgs[i];
        if (param < 0 || static_cast<UINT>(param) >= n || filled[param]) {
            if (argErr) *argErr = i;
            return DISP_E_PARAMNOTFOUND;
        }
        slots[n - 1 - static_cast<UINT>(param)] = in.rgvarg[i];
        filled[param] = true;
    }
    out.rgvarg = slots;
    out.rgdispidNamedArgs = nullptr;
    out.cNamedArgs = 0;
    return S_OK;
}

} // namespace dispatch
