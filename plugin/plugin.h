// The creatable automation class PlugIn: the host's entry (Name, DoModal) and the
// public numeric members, all on the dual interface _PlugIn.
#pragma once

#include <windows.h>
#include <new>
#include "brastow.h"
#include "server/runtime.h"

class PlugIn final : public _PlugIn, public ISupportErrorInfo, public runtime::HeapObject {
public:
    static HRESULT create(REFIID iid, void** out);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IDispatch, through the type information of _PlugIn
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;
    // _PlugIn
    STDMETHODIMP Sign(VARIANT* x, VARIANT* result) override;
    STDMETHODIMP ArcCosDeg(VARIANT* x, VARIANT* result) override;
    STDMETHODIMP ArcSinDeg(VARIANT* x, VARIANT* result) override;
    STDMETHODIMP SinDeg(VARIANT* degrees, VARIANT* result) override;
    STDMETHODIMP CosDeg(VARIANT* degrees, VARIANT* result) override;
    STDMETHODIMP OldCalcAngle(VARIANT* x, VARIANT* y, VARIANT* result) override;
    STDMETHODIMP CalcAngle(VARIANT* adj, VARIANT* opp, VARIANT* result) override;
    STDMETHODIMP DoModal(Document* doc) override;
    STDMETHODIMP get_Name(BSTR* result) override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

private:
    PlugIn();
    HRESULT invokeDoModal(const DISPPARAMS& params, EXCEPINFO* excep, UINT* argErr);
    ~PlugIn();
    volatile LONG refs_ = 1;
};
