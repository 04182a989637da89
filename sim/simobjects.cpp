// The simulated host's automation objects: application, documents collection,
// document and camera, each a hand-written IDispatch that records every call.
#include "sim/simobjects.h"
#include "sim/observatory.h"
#include "maxim.h"
#include "server/dispids.h"

#include <new>

namespace sim {
namespace {

struct Entry {
    const wchar_t* name;
    DISPID id;
    bool property;  // a property (get/put) rather than a method
};

// Member names of each object; numbered members have their host identifiers.
const Entry kApplication[] = {{L"Documents", 10, true}};
const Entry kDocuments[] = {{L"Item", DISPID_Documents_Item, false}, {L"Count", DISPID_Documents_Count, true}};
const Entry kDocument[] = {{L"DisplayName", DISPID_Document_DisplayName, true},
                           {L"MouseUp", DISPID_Document_MouseUp, true},
                           {L"MouseX", DISPID_Document_MouseX, true},
                           {L"MouseY", DISPID_Document_MouseY, true},
                           {L"MouseNewClick", DISPID_Document_MouseNewClick, true},
                           {L"CalcInformation", DISPID_Document_CalcInformation, false}};
const Entry kCamera[] = {{L"LinkEnabled", 100, true},      {L"DisableAutoShutdown", 101, true},
                         {L"GuiderDeclination", 102, true}, {L"GuiderExpose", 103, false},
                         {L"GuiderRunning", 104, true},     {L"GuiderMove", 105, false},
                         {L"GuiderAngle", 106, false},      {L"GuiderXSpeed", 107, false},
                         {L"GuiderYSpeed", 108, false}};

const wchar_t* typeName(VARTYPE t) {
    switch (t & VT_TYPEMASK) {
    case VT_EMPTY: return L"EMPTY";
    case VT_NULL: return L"NULL";
    case VT_I2: return L"I2";
    case VT_I4: return L"I4";
    case VT_R4: return L"R4";
    case VT_R8: return L"R8";
    case VT_BOOL: return L"BOOL";
    case VT_BSTR: return L"BSTR";
    case VT_DISPATCH: return L"OBJ";
    case VT_VARIANT: return L"VAR";
    default: return L"?";
    }
}

std::wstring argumentText(const VARIANT& a) {
    std::wstring s = typeName(a.vt);
    if (a.vt & VT_BYREF) s += L"&";
    Var v;
    if (SUCCEEDED(Var::deref(a, v)) &&
        SUCCEEDED(VariantChangeTypeEx(v.get(), v.get(), MAKELCID(0x409, SORT_DEFAULT), VARIANT_ALPHABOOL, VT_BSTR)))
        s += std::wstring(L"=") + v.get()->bstrVal;
    return s;
}

// The i-th argument in the order a client writes them, with references resolved.
HRESULT arg(const DISPPARAMS* p, UINT i, Var& out) {
    if (!p || i >= p->cArgs) return DISP_E_PARAMNOTFOUND;
    return Var::deref(p->rgvarg[p->cArgs - 1 - i], out);
}

template <class T>
HRESULT argAs(const DISPPARAMS* p, UINT i, VARTYPE t, T& out, T VARIANT::*field) {
    Var v;
    HRESULT hr = arg(p, i, v);
    if (SUCCEEDED(hr)) hr = v.changeTo(t, MAKELCID(0x409, SORT_DEFAULT));
    if (SUCCEEDED(hr)) out = v.get()->*field;
    return hr;
}

class Base : public IDispatch {
public:
    Base(const wchar_t* kind, const Entry* entries, size_t count) : kind_(kind), entries_(entries), count_(count) {
        InterlockedIncrement(&Observatory::get().liveObjects);
    }
    virtual ~Base() { InterlockedDecrement(&Observatory::get().liveObjects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || accepts(iid)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { if (n) *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (size_t i = 0; i < count_; ++i)
            if (lstrcmpiW(names[0], entries_[i].name) == 0) { ids[0] = entries_[i].id; break; }
        return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : (count > 1 ? DISP_E_UNKNOWNNAME : S_OK);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* ex,
                        UINT*) override {
        const Entry* e = nullptr;
        for (size_t i = 0; i < count_; ++i) if (entries_[i].id == id) e = &entries_[i];
        if (!e) return DISP_E_MEMBERNOTFOUND;
        // Numbered members are logged by number, named ones by name.
        std::wstring member = std::wstring(kind_) + L"." + (numbered(id) ? std::to_wstring(id) : e->name);
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        std::wstring text = put ? L"put " : (e->property ? L"get " : L"call ");
        text += member + L"(";
        for (UINT i = 0; params && i < params->cArgs; ++i) {
            if (i) text += L", ";
            text += argumentText(params->rgvarg[params->cArgs - 1 - i]);
        }
        text += L")";
        Observatory& o = Observatory::get();
        o.calls.push_back(text);
        if (o.onCall) o.onCall(text.c_str());
        if (e->property && !(flags & (DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT))) return DISP_E_MEMBERNOTFOUND;
        if (!e->property && !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        HRESULT hr = o.enter(member + (put ? L".put" : L""), ex);
        if (FAILED(hr)) return hr;
        Var r;
        hr = member_(id, put, params, r);
        // An odd answer scripted for the member replaces what the host would answer; the
        // member still runs, so the observatory goes on as it would.
        auto odd = o.answers.find(member);
        if (SUCCEEDED(hr) && !put && odd != o.answers.end()) r = odd->second;
        if (SUCCEEDED(hr) && result) *result = r.detach();
        return hr;
    }

protected:
    virtual bool accepts(REFIID) const { return false; }
    virtual bool numbered(DISPID) const { return false; }
    virtual HRESULT member_(DISPID id, bool put, DISPPARAMS* params, Var& result) = 0;

private:
    volatile LONG refs_ = 1;
    const wchar_t* kind_;
    const Entry* entries_;
    size_t count_;
};

class Document final : public Base {
public:
    explicit Document(std::wstring name) : Base(L"Document", kDocument, ARRAYSIZE(kDocument)), name_(std::move(name)) {}
protected:
    bool accepts(REFIID iid) const override { return iid == DIID_Document; }
    bool numbered(DISPID id) const override { return id != DISPID_Document_DisplayName; }
    HRESULT member_(DISPID id, bool put, DISPPARAMS* params, Var& r) override {
        if (put) return DISP_E_MEMBERNOTFOUND;
        Observatory& o = Observatory::get();
        switch (id) {
        case DISPID_Document_DisplayName: r = Var::str(name_.c_str()); return S_OK;
        case DISPID_Document_MouseNewClick: r = Var::i2(o.click == ClickState::Idle ? 0 : 1); return S_OK;
        case DISPID_Document_MouseUp: r = Var::boolean(o.buttonUpReading()); return S_OK;
        case DISPID_Document_MouseX:
            if (!o.readSinceRelease) { QueryPerformanceCounter(&o.readAt); o.readSinceRelease = true; }
            if (o.click == ClickState::Pressed) ++o.positionReadsWhileDown;
            r = o.clickX;
            return S_OK;
        case DISPID_Document_MouseY:
            if (o.click == ClickState::Pressed) ++o.positionReadsWhileDown;
            r = o.clickY;
            return S_OK;
        case DISPID_Document_CalcInformation: {
            SHORT x = 0, y = 0;
            HRESULT hr = argAs(params, 0, VT_I2, x, &VARIANT::iVal);
            if (SUCCEEDED(hr)) hr = argAs(params, 1, VT_I2, y, &VARIANT::iVal);
            if (FAILED(hr)) return hr;
            r = o.measurement(x, y);
            return S_OK;
        }
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
private:
    std::wstring name_;
};

class Documents final : public Base {
public:
    Documents() : Base(L"Documents", kDocuments, ARRAYSIZE(kDocuments)), names_(Observatory::get().documentNames()) {}
protected:
    bool accepts(REFIID iid) const override { return iid == DIID_Documents; }
    bool numbered(DISPID) const override { return true; }
    HRESULT member_(DISPID id, bool put, DISPPARAMS* params, Var& r) override {
        if (put) return DISP_E_MEMBERNOTFOUND;
        if (id == DISPID_Documents_Count) { r = Var::i2(static_cast<SHORT>(names_.size())); return S_OK; }
        SHORT index = 0;
        HRESULT hr = argAs(params, 0, VT_I2, index, &VARIANT::iVal);
        if (FAILED(hr)) return hr;
        if (index < 1 || static_cast<size_t>(index) > names_.size()) return DISP_E_BADINDEX;
        IDispatch* d = new (std::nothrow) Document(names_[static_cast<size_t>(index) - 1]);
        if (!d) return E_OUTOFMEMORY;
        r.ref().vt = VT_DISPATCH;
        r.ref().pdispVal = d;  // the new object's own reference
        return S_OK;
    }
private:
    std::vector<std::wstring> names_;
};

class Application final : public Base {
public:
    Application() : Base(L"Application", kApplication, ARRAYSIZE(kApplication)) {}
protected:
    HRESULT member_(DISPID, bool put, DISPPARAMS*, Var& r) override {
        if (put) return DISP_E_MEMBERNOTFOUND;
        IDispatch* d = new (std::nothrow) Documents();
        if (!d) return E_OUTOFMEMORY;
        r.ref().vt = VT_DISPATCH;
        r.ref().pdispVal = d;
        return S_OK;
    }
};

class Camera final : public Base {
public:
    Camera() : Base(L"Camera", kCamera, ARRAYSIZE(kCamera)) {}
protected:
    HRESULT member_(DISPID id, bool put, DISPPARAMS* params, Var& r) override {
        Observatory& o = Observatory::get();
        HRESULT hr = S_OK;
        switch (id) {
        case 100:
            if (put) {
                VARIANT_BOOL b = VARIANT_FALSE;
                if (FAILED(hr = argAs(params, 0, VT_BOOL, b, &VARIANT::boolVal))) return hr;
                o.linked = b != VARIANT_FALSE && o.linkWorks;
                return S_OK;
            }
            r = Var::boolean(o.linked);
            return S_OK;
        case 101:
            if (!put) r = Var::boolean(true);
            return S_OK;
        case 102:
            if (put) return DISP_E_MEMBERNOTFOUND;
            if (!o.declinationReadings.empty()) {
                r = o.declinationReadings.front();
                o.declinationReadings.erase(o.declinationReadings.begin());
            } else {
                r = Var::r8(o.sky.declination);
            }
            return S_OK;
        case 103: {
            double seconds = 0;  // checked like the real host checks it; the simulation needs no length
            if (FAILED(hr = argAs(params, 0, VT_R8, seconds, &VARIANT::dblVal))) return hr;
            o.expose();
            return S_OK;
        }
        case 104: r = Var::boolean(o.running()); return S_OK;
        case 105: {
            SHORT direction = 0;
            double duration = 0;
            if (FAILED(hr = argAs(params, 0, VT_I2, direction, &VARIANT::iVal)) ||
                FAILED(hr = argAs(params, 1, VT_R8, duration, &VARIANT::dblVal)))
                return hr;
            if (direction < 0 || direction > 3) return E_INVALIDARG;
            o.move(direction, duration);
            r = Var::boolean(true);
            return S_OK;
        }
        case 106: case 107: case 108: {
            Var v;
            if (FAILED(hr = arg(params, 0, v))) return hr;
            o.written[id == 106 ? L"GuiderAngle" : id == 107 ? L"GuiderXSpeed" : L"GuiderYSpeed"] = v;
            return S_OK;
        }
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

} // namespace

namespace {
// A new object of the class, unless the test made its creation fail.
template <class T>
HRESULT create(const wchar_t* key, REFIID iid, void** out) {
    Observatory& o = Observatory::get();
    if (FAILED(o.enter(key, nullptr))) return o.failures[key].hr;
    T* object = new (std::nothrow) T();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}
} // namespace

HRESULT createApplication(REFIID iid, void** out) { return create<Application>(L"Create.MaxIm.Application", iid, out); }
HRESULT createCamera(REFIID iid, void** out) { return create<Camera>(L"Create.MaxIm.CCDCamera", iid, out); }

IDispatch* newDocument(const wchar_t* name) { return new (std::nothrow) Document(name); }

} // namespace sim
