// The COM helper layer on its own: every owner gives back exactly the references it
// took, on every path (copy, move, assignment, out parameter, detach, failure), and
// errors travel with their five values.
#include <gtest/gtest.h>
#include "server/comhelp.h"

namespace {

// An object that counts its references and tells whether it is still alive.
class Counted final : public IDispatch {
public:
    LONG refs = 1;
    bool destroyed = false;
    bool answersDispatch = true;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || (answersDispatch && iid == IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override {
        if (--refs == 0) destroyed = true;
        return static_cast<ULONG>(refs);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

} // namespace

TEST(ComPtr, EveryPathGivesBackWhatItTook) {
    Counted o;
    {
        com::Ptr<IDispatch> a(&o);  // takes a reference
        EXPECT_EQ(o.refs, 2);
        com::Ptr<IDispatch> b(a);  // copy: one more
        EXPECT_EQ(o.refs, 3);
        com::Ptr<IDispatch> c(std::move(b));  // move: none
        EXPECT_EQ(o.refs, 3);
        EXPECT_FALSE(b);
        b = c;  // assignment of a copy
        EXPECT_EQ(o.refs, 4);
        b = com::Ptr<IDispatch>();  // assignment of nothing gives one back
        EXPECT_EQ(o.refs, 3);
        com::Ptr<IDispatch>& alias = c;
        c = alias;  // self-assignment changes nothing
        EXPECT_EQ(o.refs, 3);
        c.reset();
        EXPECT_EQ(o.refs, 2);
        EXPECT_FALSE(c);
    }
    EXPECT_EQ(o.refs, 1);

    {
        o.AddRef();
        com::Ptr<IDispatch> adopted(&o, false);  // adopts a reference it did not take
        EXPECT_EQ(o.refs, 2);
        IDispatch* raw = adopted.detach();  // hands it over
        EXPECT_FALSE(adopted);
        EXPECT_EQ(raw, &o);
        EXPECT_EQ(o.refs, 2);
        raw->Release();
    }
    EXPECT_EQ(o.refs, 1);

    {
        com::Ptr<IUnknown> held(&o);
        IUnknown** slot = held.put();  // an out parameter releases what was there
        EXPECT_EQ(o.refs, 1);
        EXPECT_EQ(*slot, nullptr);
        EXPECT_EQ(o.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(slot)), S_OK);
        EXPECT_EQ(o.refs, 2);
    }
    EXPECT_EQ(o.refs, 1);
    EXPECT_FALSE(o.destroyed);
}

TEST(ComPtr, QueryTakesOneReferenceOrNoneAndChecksForNull) {
    Counted o;
    o.answersDispatch = false;
    com::Ptr<IUnknown> p(&o);
    com::Ptr<IDispatch> d;
    EXPECT_EQ(p.query(IID_IDispatch, d), E_NOINTERFACE);
    EXPECT_FALSE(d);
    EXPECT_EQ(o.refs, 2);
    com::Ptr<IUnknown> u;
    EXPECT_EQ(p.query(IID_IUnknown, u), S_OK);
    EXPECT_EQ(o.refs, 3);
    com::Ptr<IUnknown> none;
    EXPECT_EQ(none.query(IID_IUnknown, u), E_POINTER);
    EXPECT_EQ(o.refs, 2) << "the failed query emptied its out parameter first";
    EXPECT_FALSE(u);
}

TEST(ComVar, ObjectReferencesFollowTheVariant) {
    Counted o;
    {
        com::Var v = com::Var::object(&o);
        EXPECT_EQ(o.refs, 2);
        com::Var copy(v);  // VariantCopy takes one
        EXPECT_EQ(o.refs, 3);
        com::Var moved(std::move(copy));  // none
        EXPECT_EQ(o.refs, 3);
        EXPECT_EQ(copy.vt(), VT_EMPTY);
        moved = com::Var::i2(1);  // assignment clears what was held
        EXPECT_EQ(o.refs, 2);
        v.put();  // so does an out parameter
        EXPECT_EQ(o.refs, 1);
        v = com::Var::object(&o);
        VARIANT taken = v.detach();  // hands its reference over
        EXPECT_EQ(v.vt(), VT_EMPTY);
        EXPECT_EQ(o.refs, 2);
        VariantClear(&taken);
        EXPECT_EQ(o.refs, 1);
    }
    EXPECT_EQ(o.refs, 1);
}

TEST(ComVar, DerefCopiesThroughReferencesAndLeavesTheSourceAlone) {
    Counted o;
    IDispatch* target = &o;
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_DISPATCH;
    byRef.ppdispVal = &target;
    {
        com::Var value = com::Var::i2(7);
        EXPECT_EQ(com::Var::deref(byRef, value), S_OK);
        EXPECT_EQ(value.vt(), VT_DISPATCH);
        EXPECT_EQ(value.get()->pdispVal, &o);
        EXPECT_EQ(o.refs, 2);
    }
    EXPECT_EQ(o.refs, 1);
    EXPECT_EQ(byRef.vt, VT_BYREF | VT_DISPATCH);

    // A reference to a variant holding text: the copy owns its own string.
    com::Var inner = com::Var::str(L"2.5");
    VARIANT toVariant;
    toVariant.vt = VT_BYREF | VT_VARIANT;
    toVariant.pvarVal = inner.get();
    com::Var copy;
    ASSERT_EQ(com::Var::deref(toVariant, copy), S_OK);
    ASSERT_EQ(copy.vt(), VT_BSTR);
    EXPECT_NE(copy.get()->bstrVal, inner.get()->bstrVal);
    EXPECT_STREQ(copy.get()->bstrVal, L"2.5");
    EXPECT_EQ(copy.changeTo(VT_R8, MAKELCID(0x409, SORT_DEFAULT)), S_OK);
    EXPECT_EQ(copy.get()->dblVal, 2.5);
    EXPECT_EQ(inner.vt(), VT_BSTR);
}

TEST(ComVar, ReadableRefusesPointersThatLeadNowhere) {
    VARIANT v;
    v.vt = VT_BYREF | VT_I2;
    v.piVal = nullptr;
    EXPECT_FALSE(com::readable(v));
    SHORT s = 3;
    v.piVal = &s;
    EXPECT_TRUE(com::readable(v));

    VARIANT loop;  // a reference to itself never ends
    loop.vt = VT_BYREF | VT_VARIANT;
    loop.pvarVal = &loop;
    EXPECT_FALSE(com::readable(loop));
    VARIANT two;  // two levels end
    two.vt = VT_BYREF | VT_VARIANT;
    two.pvarVal = &v;
    EXPECT_TRUE(com::readable(two));

    VARIANT record = {};
    record.vt = VT_RECORD;
    EXPECT_FALSE(com::readable(record)) << "a record without its record information";
}

TEST(ComBstr, CopiesOwnTheirTextAndAppendGrows) {
    com::Bstr a(L"Error in ");
    com::Bstr b(a);
    EXPECT_NE(a.get(), b.get());
    EXPECT_TRUE(b.append(L"CalcAngle"));
    EXPECT_STREQ(a.c_str(), L"Error in ");
    EXPECT_STREQ(b.c_str(), L"Error in CalcAngle");
    EXPECT_EQ(b.length(), 18u);
    const wchar_t withNul[] = {L'x', 0, L'y'};
    EXPECT_TRUE(b.append(withNul, 3));  // a BSTR may hold a null character
    EXPECT_EQ(b.length(), 21u);
    EXPECT_EQ(b.get()[20], L'y');
    com::Bstr empty;
    EXPECT_STREQ(empty.c_str(), L"");
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_TRUE(empty.append(nullptr));
    BSTR raw = b.detach();
    EXPECT_EQ(b.get(), nullptr);
    com::Bstr back = com::Bstr::attach(raw);
    EXPECT_EQ(back.length(), 21u);
}

TEST(ComError, RaisedErrorsAreTakenBackWithAllFiveValues) {
    com::Error e;
    e.number = com::kDivisionByZero;
    e.source = com::Bstr(L"Source");
    e.description = com::Bstr(L"Description");
    e.helpFile = com::Bstr(L"help.chm");
    e.helpContext = 42;
    EXPECT_EQ(com::raise(e), com::kDivisionByZero);
    com::Error t = com::takeError(com::kDivisionByZero, L"Fallback");
    EXPECT_EQ(t.number, com::kDivisionByZero);
    EXPECT_STREQ(t.source.c_str(), L"Source");
    EXPECT_STREQ(t.description.c_str(), L"Description");
    EXPECT_STREQ(t.helpFile.c_str(), L"help.chm");
    EXPECT_EQ(t.helpContext, 42u);

    // Taken once: without error information the number is described.
    com::Error none = com::takeError(DISP_E_TYPEMISMATCH, L"Fallback");
    EXPECT_STREQ(none.source.c_str(), L"Fallback");
    EXPECT_STREQ(none.description.c_str(), L"Type mismatch");

    EXPECT_EQ(com::raise(E_FAIL, L"Brastow"), E_FAIL);
    com::Error unknown = com::takeError(E_FAIL, L"Fallback");
    EXPECT_STREQ(unknown.source.c_str(), L"Brastow");
    EXPECT_STREQ(unknown.description.c_str(), L"Automation error 0x80004005");
}

namespace {
HRESULT STDAPICALLTYPE fillIn(EXCEPINFO* x) {
    x->bstrDescription = SysAllocString(L"filled in later");
    x->scode = E_ACCESSDENIED;
    return S_OK;
}
} // namespace

TEST(ComError, ExcepInfoIsTakenOverAndFilledInWhenDeferred) {
    EXCEPINFO x = {};
    x.bstrSource = SysAllocString(L"Host");
    x.wCode = 1001;  // an error of the host's own numbering
    x.dwHelpContext = 7;
    com::Error e = com::fromExcepInfo(x, L"Fallback");
    EXPECT_EQ(e.number, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 1001));
    EXPECT_STREQ(e.source.c_str(), L"Host");
    EXPECT_EQ(e.helpContext, 7u);
    EXPECT_EQ(x.bstrSource, nullptr) << "the error owns the string now";

    EXCEPINFO deferred = {};
    deferred.pfnDeferredFillIn = fillIn;
    com::Error d = com::fromExcepInfo(deferred, L"Fallback");
    EXPECT_EQ(d.number, E_ACCESSDENIED);
    EXPECT_STREQ(d.description.c_str(), L"filled in later");
    EXPECT_STREQ(d.source.c_str(), L"Fallback");
    EXPECT_EQ(deferred.pfnDeferredFillIn, nullptr);
}
