// The module boundary: registration, exports, resources, type library and dispatch.
#include <gtest/gtest.h>
#include "tests/support.h"
#include "setup/sample_ids.h"

#include <algorithm>
#include <cwctype>
#include <string>

using namespace testing_support;

namespace {

const wchar_t kClsid[] = L"{6C7B20D7-46F2-4A53-8892-9EA5AEB15E70}";
const wchar_t kIid[] = L"{E8F8EF13-C928-435D-AFB4-FD79E2425671}";
const wchar_t kLibid[] = L"{10FA8A2A-6335-418B-B36B-8D50499CF803}";
const wchar_t kDescription[] = L"Allows manual identification of guide star movement during giuider calibration";
// The platform this edition's type library is built and registered for.
#ifdef _WIN64
const wchar_t kPlatform[] = L"win64";
const SYSKIND kSysKind = SYS_WIN64;
#else
const wchar_t kPlatform[] = L"win32";
const SYSKIND kSysKind = SYS_WIN32;
#endif
const int kPtr = static_cast<int>(sizeof(void*));  // a vtable slot

std::wstring regString(HKEY root, const std::wstring& key, const wchar_t* value) {
    wchar_t buf[1024];
    DWORD size = sizeof(buf);
    if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buf;
}

bool keyExists(HKEY root, const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

std::wstring lower(std::wstring s) {
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

// Every key name and string value under `root\path` that mentions what our registration
// writes: our identifiers, our ProgID, our module's own path. (Not the word "brastow": the
// checkout's folder may bear the project's name, and other servers registered from it
// would match.)
void findTraces(HKEY root, const std::wstring& path, std::vector<std::wstring>& hits, int depth = 0) {
    HKEY h;
    if (depth > 12 || RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return;
    const std::wstring needles[] = {lower(kClsid), lower(kIid), lower(kLibid), L"brastow.plugin",
                                    lower(buildPath(L"brastow.dll"))};
    auto mentions = [&](const std::wstring& s) {
        std::wstring l = lower(s);
        for (auto& n : needles) if (l.find(n) != std::wstring::npos) return true;
        return false;
    };
    wchar_t name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nlen = 512, dlen = sizeof(data) - 2, type = 0;
        LONG rc = RegEnumValueW(h, i, name, &nlen, nullptr, &type, data, &dlen);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) continue;
        data[dlen] = data[dlen + 1] = 0;
        if (type == REG_SZ && mentions(reinterpret_cast<wchar_t*>(data))) hits.push_back(path + L" = " + reinterpret_cast<wchar_t*>(data));
    }
    std::vector<std::wstring> subs;
    for (DWORD i = 0;; ++i) {
        DWORD nlen = 512;
        if (RegEnumKeyExW(h, i, name, &nlen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subs.push_back(name);
    }
    RegCloseKey(h);
    for (auto& s : subs) {
        std::wstring child = path.empty() ? s : path + L"\\" + s;
        if (mentions(s)) hits.push_back(child);
        findTraces(root, child, hits, depth + 1);
    }
}

DWORD runWait(const std::wstring& commandLine) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

bool creatable() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Brastow.PlugIn", &clsid))) return false;
    com::Ptr<IDispatch> d;
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.putVoid()));
}

} // namespace

TEST(Registration, RoundTripThroughRegsvr32LeavesNothingBehind) {
    const std::wstring dll = buildPath(L"brastow.dll");
    ASSERT_EQ(runWait(L"regsvr32.exe /s /u \"" + dll + L"\""), 0u);
    EXPECT_FALSE(creatable());
    std::vector<std::wstring> traces;
    findTraces(HKEY_CLASSES_ROOT, L"", traces);
    for (auto& t : traces) ADD_FAILURE() << "left in the registry: " << std::string(t.begin(), t.end());
    // Unregistering twice is not an error.
    EXPECT_EQ(runWait(L"regsvr32.exe /s /u \"" + dll + L"\""), 0u);

    ASSERT_EQ(runWait(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
    EXPECT_TRUE(creatable());
    const std::wstring cls = std::wstring(L"CLSID\\") + kClsid;
    EXPECT_EQ(lower(regString(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", nullptr)), lower(dll));
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, cls + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, cls + L"\\ProgID", nullptr), L"Brastow.PlugIn");
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, cls + L"\\TypeLib", nullptr), kLibid);
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, L"Brastow.PlugIn\\CLSID", nullptr), kClsid);
    EXPECT_EQ(lower(regString(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibid + L"\\1.0\\0\\" + kPlatform, nullptr)), lower(dll));
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, std::wstring(L"TypeLib\\") + kLibid + L"\\1.0", nullptr), kDescription);
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + kIid));
    EXPECT_EQ(regString(HKEY_CLASSES_ROOT, std::wstring(L"Interface\\") + kIid + L"\\TypeLib", nullptr), kLibid);
    // Registering again over an existing registration succeeds.
    EXPECT_EQ(runWait(L"regsvr32.exe /s \"" + dll + L"\""), 0u);
}

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryW(buildPath(L"brastow.dll").c_str());
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }
    template <class F> F entry(const char* name) { return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))); }
    HMODULE module = nullptr;
};

TEST_F(Module, ExportsFourNamesWithAlphabeticalOrdinals) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.MajorImageVersion, 1);
    EXPECT_EQ(nt->OptionalHeader.MinorImageVersion, 3);
    EXPECT_NE(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exp = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_STREQ(reinterpret_cast<char*>(base + exp->Name), "brastow.dll");
    ASSERT_EQ(exp->NumberOfNames, 4u);
    ASSERT_EQ(exp->NumberOfFunctions, 4u);
    const char* expected[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"};
    auto* names = reinterpret_cast<DWORD*>(base + exp->AddressOfNames);
    auto* ords = reinterpret_cast<WORD*>(base + exp->AddressOfNameOrdinals);
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(reinterpret_cast<char*>(base + names[i]), expected[i]);
        EXPECT_EQ(ords[i] + exp->Base, static_cast<DWORD>(i + 1)) << expected[i];
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(i + 1)), GetProcAddress(module, expected[i]));
    }
}

TEST_F(Module, ImportsOnlySystemDlls) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const char* allowed[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "comctl32.dll", "gdi32.dll"};
    int count = 0;
    std::vector<std::string> fromCrt;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d, ++count) {
        std::string name = reinterpret_cast<char*>(base + d->Name);
        for (auto& c : name) c = static_cast<char>(tolower(c));
        bool ok = false;
        for (auto* a : allowed) ok = ok || name == a;
        EXPECT_TRUE(ok) << "imports " << name;
        if (name != "msvcrt.dll") continue;
        for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk); t->u1.AddressOfData; ++t)
            if (!IMAGE_SNAP_BY_ORDINAL(t->u1.Ordinal))
                fromCrt.push_back(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + t->u1.AddressOfData)->Name);
    }
    EXPECT_GT(count, 0);
    // The elementary functions are Brastow's own (anglemath/elementary.h): none comes from
    // the C runtime, whose results differ between editions and Windows versions.
    for (const char* fn : {"sin", "cos", "tan", "atan", "atan2", "asin", "acos", "sqrt", "exp", "log", "pow", "fmod"})
        EXPECT_EQ(std::find(fromCrt.begin(), fromCrt.end(), fn), fromCrt.end()) << fn << " is the C runtime's";
    EXPECT_NE(std::find(fromCrt.begin(), fromCrt.end(), "_clearfp"), fromCrt.end()) << "the import list was not read";
}

TEST_F(Module, ResourcesCarryTheInterfaceIdentifierAndTheTypeLibrary) {
    HRSRC r = FindResourceExW(module, L"_IID_PLUGIN", MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(SizeofResource(module, r), 20u);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, r)));
    DWORD length;
    memcpy(&length, bytes, 4);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(memcmp(bytes + 4, &IID__PlugIn, 16), 0);
    EXPECT_NE(FindResourceExW(module, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)), nullptr);
}

// The form's template as stored, control by control: class, styles and extended styles.
// Resource compilers differ in the styles they add to the short statements (rc.exe and
// llvm-rc give labels WS_GROUP, windres does not), so every toolchain must store these.
TEST_F(Module, SetupFormTemplateSpellsOutEveryStyle) {
    HRSRC r = FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(IDD_SAMPLE),
                              MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_NE(r, nullptr);
    const BYTE* at = static_cast<const BYTE*>(LockResource(LoadResource(module, r)));
    const BYTE* end = at + SizeofResource(module, r);
    auto word = [&] { WORD w = 0; if (at + 2 <= end) memcpy(&w, at, 2); at += 2; return w; };
    auto dword = [&] { DWORD d = 0; if (at + 4 <= end) memcpy(&d, at, 4); at += 4; return d; };
    auto text = [&]() -> std::wstring {  // a name or an ordinal ("#n")
        WORD first = word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(word());
        std::wstring s;
        for (WORD c = first; c != 0 && at < end; c = word()) s += static_cast<wchar_t>(c);
        return s;
    };
    ASSERT_EQ(word(), 1);       // DLGTEMPLATEEX
    ASSERT_EQ(word(), 0xFFFF);
    dword();                    // help identifier
    EXPECT_EQ(dword(), static_cast<DWORD>(WS_EX_DLGMODALFRAME));
    EXPECT_EQ(dword(), static_cast<DWORD>(DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    const WORD count = word();
    at += 8;                    // position and size
    EXPECT_EQ(text(), L"");     // no menu
    EXPECT_EQ(text(), L"");     // the standard dialog class
    EXPECT_EQ(text(), L"Guide star setup");
    word(); word(); at += 2;    // point size, weight, italic and character set
    EXPECT_EQ(text(), L"MS Sans Serif");

    const DWORD child = WS_CHILD | WS_VISIBLE;
    const DWORD field = child | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    const DWORD label = child | SS_LEFT | SS_NOTIFY;
    struct Item { DWORD id; const wchar_t* cls; DWORD style; };
    const Item expected[] = {
        {IDOK, L"#128", child | WS_TABSTOP | BS_DEFPUSHBUTTON}, {IDCANCEL, L"#128", child | WS_TABSTOP | BS_PUSHBUTTON},
        {IDC_NUMBER1, L"#129", field}, {IDC_LABEL1, L"#130", label}, {IDC_LABEL3, L"#130", label},
        {IDC_NUMBER3, L"#129", field}, {IDC_NUMBER2, L"#129", field}, {IDC_LABEL2, L"#130", label},
        {IDC_CHECK1, L"#128", child | WS_TABSTOP | BS_AUTOCHECKBOX}, {IDC_LABEL4, L"#130", label},
        {IDC_NUMBER4, L"#129", field}, {IDC_LABEL5, L"#130", label}, {IDC_NUMBER5, L"#129", field}};
    ASSERT_EQ(count, ARRAYSIZE(expected));
    auto base = static_cast<const BYTE*>(LockResource(LoadResource(module, r)));
    for (const Item& e : expected) {
        at = base + ((at - base + 3) & ~3);  // items start on a DWORD boundary
        dword();
        const DWORD exStyle = dword(), style = dword();
        at += 8;
        const DWORD id = dword();
        std::wstring cls = text();
        for (auto& c : cls) c = static_cast<wchar_t>(towlower(c));
        if (cls == L"button") cls = L"#128";
        if (cls == L"edit") cls = L"#129";
        if (cls == L"static") cls = L"#130";
        text();
        at += word();           // creation data
        ASSERT_LE(at, end);
        EXPECT_EQ(id, e.id);
        EXPECT_EQ(cls, e.cls) << "control " << e.id;
        EXPECT_EQ(style, e.style) << "control " << e.id << std::hex << ": 0x" << style;
        EXPECT_EQ(exStyle, 0u) << "control " << e.id;
    }
}

TEST_F(Module, VersionBlockHasEveryField) {
    const std::wstring path = buildPath(L"brastow.dll");
    DWORD handle = 0, size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(3, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(3, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
    struct { const wchar_t* name; const wchar_t* value; } fields[] = {
        {L"Comments", kDescription}, {L"FileDescription", L"Brastow"}, {L"ProductName", L"MaxIm DL"},
        {L"FileVersion", L"1.03"}, {L"ProductVersion", L"1.03"}, {L"InternalName", L"brastow"},
        {L"OriginalFilename", L"brastow.dll"}, {L"OLESelfRegister", L""}};
    for (auto& f : fields) {
        wchar_t* value = nullptr;
        std::wstring q = std::wstring(L"\\StringFileInfo\\040904B0\\") + f.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), q.c_str(), reinterpret_cast<void**>(&value), &len)) << "missing field";
        EXPECT_STREQ(value, f.value);
    }
    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &len));
    EXPECT_EQ(*translation, MAKELONG(0x0409, 1200));
}

TEST_F(Module, ClassObjectAndUnloadRules) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnload = HRESULT(WINAPI*)();
    auto getClassObject = entry<GetClassObject>("DllGetClassObject");
    auto canUnload = entry<CanUnload>("DllCanUnloadNow");
    ASSERT_TRUE(getClassObject && canUnload);

    com::Ptr<IClassFactory> other;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, other.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(other);

    com::Ptr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_PlugIn, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnload(), S_OK);
    {
        com::Ptr<IUnknown> obj;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, obj.putVoid()), S_OK);
        EXPECT_EQ(canUnload(), S_FALSE);
        com::Ptr<IUnknown> aggregated;
        EXPECT_EQ(factory->CreateInstance(obj.get(), IID_IUnknown, aggregated.putVoid()), CLASS_E_NOAGGREGATION);
        com::Ptr<IUnknown> none;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, none.putVoid()), E_NOINTERFACE);
    }
    EXPECT_EQ(canUnload(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);
}

namespace {
com::Ptr<ITypeLib> moduleTypeLib() {
    com::Ptr<ITypeLib> lib;
    LoadTypeLibEx(buildPath(L"brastow.dll").c_str(), REGKIND_NONE, lib.put());
    return lib;
}
// The stand-in host library must be resolvable for the imported types to load.
void ensureHostLibrary() {
    com::Ptr<ITypeLib> host;
    if (FAILED(LoadRegTypeLib(LIBID_MaxIm, 1, 0, 0, host.put())))
        LoadTypeLibEx(buildPath(L"gen\\MaxIm_DL.exe").c_str(), REGKIND_REGISTER, host.put());
}
} // namespace

TEST(TypeLibrary, LibraryAttributes) {
    auto lib = moduleTypeLib();
    ASSERT_TRUE(lib);
    TLIBATTR* a = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&a), S_OK);
    EXPECT_EQ(a->guid, LIBID_Brastow);
    EXPECT_EQ(a->lcid, 0u);
    EXPECT_EQ(a->syskind, kSysKind);
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 0);
    EXPECT_EQ(a->wLibFlags & ~LIBFLAG_FHASDISKIMAGE, 0) << "no library flags of its own";
    lib->ReleaseTLibAttr(a);
    com::Bstr name, doc, help;
    DWORD ctx = 1;
    ASSERT_EQ(lib->GetDocumentation(-1, name.put(), doc.put(), &ctx, help.put()), S_OK);
    EXPECT_STREQ(name.c_str(), L"Brastow");
    EXPECT_STREQ(doc.c_str(), kDescription);
    EXPECT_EQ(ctx, 0u);
    EXPECT_EQ(help.length(), 0u);
    ASSERT_EQ(lib->GetTypeInfoCount(), 2u);
    TYPEKIND k;
    lib->GetTypeInfoType(0, &k);
    EXPECT_EQ(k, TKIND_DISPATCH);
    lib->GetTypeInfoType(1, &k);
    EXPECT_EQ(k, TKIND_COCLASS);
}

TEST(TypeLibrary, InterfaceHasTheNineMembersInOrder) {
    ensureHostLibrary();
    auto lib = moduleTypeLib();
    ASSERT_TRUE(lib);
    com::Ptr<ITypeInfo> disp, vt;
    ASSERT_EQ(lib->GetTypeInfo(0, disp.put()), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(disp->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->guid, IID__PlugIn);
    // The runtime reports a dispatch description without FOLEAUTOMATION; the stored
    // flags are checked in the file below.
    EXPECT_EQ(ta->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION,
              TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(ta->wMajorVerNum, 1);
    EXPECT_EQ(ta->cVars, 0);
    disp->ReleaseTypeAttr(ta);

    // IDispatch comes from stdole2.
    HREFTYPE base = 0;
    com::Ptr<ITypeInfo> baseInfo;
    com::Ptr<ITypeLib> baseLib;
    UINT index = 0;
    ASSERT_EQ(disp->GetRefTypeOfImplType(0, &base), S_OK);
    ASSERT_EQ(disp->GetRefTypeInfo(base, baseInfo.put()), S_OK);
    ASSERT_EQ(baseInfo->GetContainingTypeLib(baseLib.put(), &index), S_OK);
    TLIBATTR* la = nullptr;
    baseLib->GetLibAttr(&la);
    EXPECT_EQ(la->guid, IID_StdOle);
    EXPECT_EQ(la->wMajorVerNum, 2);
    baseLib->ReleaseTLibAttr(la);

    HREFTYPE ref = 0;
    ASSERT_EQ(disp->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(disp->GetRefTypeInfo(ref, vt.put()), S_OK);
    ASSERT_EQ(vt->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
    EXPECT_EQ(ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION, TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(ta->cFuncs, 9);
    EXPECT_EQ(ta->cbSizeVft, (7 + 9) * kPtr);
    vt->ReleaseTypeAttr(ta);

    // The published identifiers, written out: this is the check of server/dispids.h.
    struct Member { const wchar_t* name; MEMBERID id; INVOKEKIND kind; int params; };
    const Member expected[] = {
        {L"Sign", 0x60030001, INVOKE_FUNC, 2},      {L"ArcCosDeg", 0x60030002, INVOKE_FUNC, 2},
        {L"ArcSinDeg", 0x60030003, INVOKE_FUNC, 2}, {L"SinDeg", 0x60030004, INVOKE_FUNC, 2},
        {L"CosDeg", 0x60030005, INVOKE_FUNC, 2},    {L"OldCalcAngle", 0x60030006, INVOKE_FUNC, 3},
        {L"CalcAngle", 0x60030007, INVOKE_FUNC, 3}, {L"DoModal", 0x60030008, INVOKE_FUNC, 1},
        {L"Name", 0x68030000, INVOKE_PROPERTYGET, 1}};
    for (UINT i = 0; i < 9; ++i) {
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(vt->GetFuncDesc(i, &fd), S_OK);
        const Member& m = expected[i];
        com::Bstr name, doc;
        DWORD ctx = 1;
        vt->GetDocumentation(fd->memid, name.put(), doc.put(), &ctx, nullptr);
        EXPECT_STREQ(name.c_str(), m.name);
        EXPECT_EQ(doc.length(), 0u) << "no help string";
        EXPECT_EQ(ctx, 0u);
        EXPECT_EQ(fd->memid, m.id) << i;
        EXPECT_EQ(fd->invkind, m.kind) << i;
        EXPECT_EQ(fd->cParams, m.params) << i;
        EXPECT_EQ(fd->cParamsOpt, 0) << i;
        EXPECT_EQ(fd->wFuncFlags, 0) << i;
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_HRESULT) << i;
        EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + static_cast<int>(i)) * kPtr)) << i;
        for (int p = 0; p < fd->cParams; ++p) {
            const ELEMDESC& e = fd->lprgelemdescParam[p];
            USHORT flags = e.paramdesc.wParamFlags;
            bool last = p == fd->cParams - 1;
            if (i == 7) {  // DoModal(Doc): the host's Document, in only
                EXPECT_EQ(flags, PARAMFLAG_FIN);
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                ASSERT_EQ(e.tdesc.lptdesc->vt, VT_USERDEFINED);
                com::Ptr<ITypeInfo> docInfo;
                ASSERT_EQ(vt->GetRefTypeInfo(e.tdesc.lptdesc->hreftype, docInfo.put()), S_OK);
                TYPEATTR* da = nullptr;
                docInfo->GetTypeAttr(&da);
                EXPECT_EQ(da->guid, DIID_Document);
                docInfo->ReleaseTypeAttr(da);
                com::Ptr<ITypeLib> hostLib;
                docInfo->GetContainingTypeLib(hostLib.put(), &index);
                hostLib->GetLibAttr(&la);
                EXPECT_EQ(la->guid, LIBID_MaxIm);
                EXPECT_EQ(la->wMajorVerNum, 1);
                EXPECT_EQ(la->wMinorVerNum, 0);
                hostLib->ReleaseTLibAttr(la);
            } else if (last) {  // the result
                EXPECT_EQ(flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                EXPECT_EQ(e.tdesc.lptdesc->vt, i == 8 ? VT_BSTR : VT_VARIANT);
            } else {
                EXPECT_EQ(flags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
                ASSERT_EQ(e.tdesc.vt, VT_PTR);
                EXPECT_EQ(e.tdesc.lptdesc->vt, VT_VARIANT);
            }
        }
        vt->ReleaseFuncDesc(fd);
    }
}

TEST(TypeLibrary, HostMembersHaveTheHostsIdentifiers) {
    // The host's numbered members, written out: the plug-in calls them by these
    // numbers (server/dispids.h), so a wrong number there must fail here.
    com::Ptr<ITypeLib> host;
    ASSERT_EQ(LoadTypeLibEx(buildPath(L"gen\\MaxIm_DL.exe").c_str(), REGKIND_NONE, host.put()), S_OK);
    struct Member { const GUID* iface; const wchar_t* name; MEMBERID id; };
    const Member expected[] = {{&DIID_Documents, L"Item", 1},         {&DIID_Documents, L"Count", 2},
                               {&DIID_Document, L"DisplayName", 1},   {&DIID_Document, L"MouseUp", 51},
                               {&DIID_Document, L"MouseX", 52},       {&DIID_Document, L"MouseY", 53},
                               {&DIID_Document, L"MouseNewClick", 57}, {&DIID_Document, L"CalcInformation", 70}};
    for (const Member& m : expected) {
        com::Ptr<ITypeInfo> ti;
        ASSERT_EQ(host->GetTypeInfoOfGuid(*m.iface, ti.put()), S_OK);
        LPOLESTR name = const_cast<LPOLESTR>(m.name);
        MEMBERID id = MEMBERID_NIL;
        EXPECT_EQ(ti->GetIDsOfNames(&name, 1, &id), S_OK);
        EXPECT_EQ(id, m.id) << "member " << std::string(m.name, m.name + lstrlenW(m.name));
    }
}

TEST(TypeLibrary, ImportsAreRecordedUnderTheirFileNames) {
    // The stored import table names the host library by its file name.
    HMODULE m = LoadLibraryExW(buildPath(L"brastow.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m, nullptr);
    HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), L"TYPELIB");
    ASSERT_NE(r, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(m, r)));
    std::string bytes(data, SizeofResource(m, r));
    EXPECT_NE(bytes.find("MaxIm_DL.exe"), std::string::npos);
    EXPECT_NE(bytes.find("stdole2.tlb"), std::string::npos);
    // The stored flags of the first type description (MSFT layout: header, offsets,
    // segment directory whose first segment holds the 0x64-byte descriptions).
    auto at = [&](size_t pos) { int v; memcpy(&v, bytes.data() + pos, 4); return v; };
    ASSERT_EQ(bytes.compare(0, 4, "MSFT"), 0);
    int varflags = at(0x14), count = at(0x20);
    size_t table = static_cast<size_t>(at(0x54 + ((varflags & 0x100) ? 4 : 0) + 4 * count));
    EXPECT_EQ(at(table) & 0xF, TKIND_DISPATCH);
    EXPECT_EQ(at(table + 0x30), TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                                    TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    FreeLibrary(m);
}

TEST(TypeLibrary, CoclassImplementsOnlyTheDefaultInterface) {
    auto lib = moduleTypeLib();
    ASSERT_TRUE(lib);
    com::Ptr<ITypeInfo> co;
    ASSERT_EQ(lib->GetTypeInfo(1, co.put()), S_OK);
    TYPEATTR* ta = nullptr;
    co->GetTypeAttr(&ta);
    EXPECT_EQ(ta->guid, CLSID_PlugIn);
    EXPECT_EQ(ta->wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(ta->cImplTypes, 1);
    EXPECT_EQ(ta->wMajorVerNum, 1);
    co->ReleaseTypeAttr(ta);
    INT flags = 0;
    co->GetImplTypeFlags(0, &flags);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    com::Bstr name;
    co->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
    EXPECT_STREQ(name.c_str(), L"PlugIn");
}

TEST(Dispatch, TwoCreationsGiveTwoObjectsThatBothAnswerName) {
    auto a = createPlugIn(), b = createPlugIn();
    ASSERT_TRUE(a && b);
    com::Ptr<IUnknown> ua, ub;
    a.query(IID_IUnknown, ua);
    b.query(IID_IUnknown, ub);
    EXPECT_NE(ua.get(), ub.get());
    for (IDispatch* d : {a.get(), b.get()}) {
        auto r = invoke(d, 0x68030000, DISPATCH_PROPERTYGET, {});
        ASSERT_EQ(r.hr, S_OK);
        ASSERT_EQ(r.value.vt(), VT_BSTR);
        EXPECT_STREQ(r.value.get()->bstrVal, L"Brastow");
    }
}

TEST(Dispatch, NamesResolveInAnyCase) {
    auto d = createPlugIn();
    ASSERT_TRUE(d);
    struct { const wchar_t* name; DISPID id; } names[] = {
        {L"Sign", 0x60030001}, {L"arccosdeg", 0x60030002}, {L"ARCSINDEG", 0x60030003}, {L"sInDeG", 0x60030004},
        {L"CosDeg", 0x60030005}, {L"oldcalcangle", 0x60030006}, {L"CALCANGLE", 0x60030007},
        {L"doMODAL", 0x60030008}, {L"DoModal", 0x60030008}, {L"name", 0x68030000}, {L"NAME", 0x68030000}};
    for (auto& n : names) EXPECT_EQ(dispid(d.get(), n.name), n.id);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Calibrate");
    DISPID id;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST(Dispatch, StandardErrorsForMisuseAndNoMemberCodeRuns) {
    auto d = createPlugIn();
    ASSERT_TRUE(d);
    UiRobot robot;  // any message shown here would be a fault
    EXPECT_EQ(invoke(d.get(), 0x68030000, DISPATCH_PROPERTYPUT, {com::Var::str(L"Other")}).hr, DISP_E_MEMBERNOTFOUND);
    auto name = invoke(d.get(), 0x68030000, DISPATCH_PROPERTYGET, {});
    EXPECT_STREQ(name.value.get()->bstrVal, L"Brastow");
    HRESULT noArg = invoke(d.get(), 0x60030008, DISPATCH_METHOD, {}).hr;
    EXPECT_TRUE(noArg == DISP_E_PARAMNOTOPTIONAL || noArg == DISP_E_BADPARAMCOUNT) << std::hex << noArg;
    EXPECT_EQ(invoke(d.get(), 0x12345, DISPATCH_METHOD, {}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(d.get(), 0x60030007, DISPATCH_METHOD, {com::Var::i2(1)}).hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(invoke(d.get(), 0x60030001, DISPATCH_METHOD, {com::Var::i2(1), com::Var::i2(2)}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(invoke(d.get(), 0x60030008, DISPATCH_METHOD, {com::Var::str(L"not a document")}).hr, DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(robot.boxes.empty());
}

TEST(Dispatch, EarlyBoundThroughTheDualInterface) {
    auto d = createPlugIn();
    ASSERT_TRUE(d);
    com::Ptr<_PlugIn> p;
    ASSERT_EQ(d.query(IID__PlugIn, p), S_OK);
    com::Bstr name;
    ASSERT_EQ(p->get_Name(name.put()), S_OK);
    EXPECT_STREQ(name.c_str(), L"Brastow");
    com::Var x = com::Var::r8(-2.5), r;
    ASSERT_EQ(p->Sign(x.get(), r.put()), S_OK);
    EXPECT_EQ(r.vt(), VT_I2);
    EXPECT_EQ(r.get()->iVal, -1);
    com::Ptr<ISupportErrorInfo> sei;
    ASSERT_EQ(d.query(IID_ISupportErrorInfo, sei), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID__PlugIn), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST(Dispatch, ArgumentsByName) {
    auto d = createPlugIn();
    ASSERT_TRUE(d);
    // GetIDsOfNames gives the parameters' identifiers, their positions.
    LPOLESTR names[3] = {const_cast<LPOLESTR>(L"CalcAngle"), const_cast<LPOLESTR>(L"opp"), const_cast<LPOLESTR>(L"ADJ")};
    DISPID ids[3] = {};
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030007);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], 0);
    LPOLESTR doc[2] = {const_cast<LPOLESTR>(L"DoModal"), const_cast<LPOLESTR>(L"Doc")};
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, doc, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[1], 0);

    // CalcAngle(opp:=4, adj:=3) is CalcAngle(3, 4); opp:=4 after a first argument 3 too.
    auto byName = [&](std::vector<com::Var> args, std::vector<DISPID> named) {
        std::vector<VARIANT> raw;
        for (auto& a : args) raw.push_back(*a.get());  // rgvarg[i] goes with named[i]
        DISPPARAMS dp = {raw.data(), named.data(), static_cast<UINT>(raw.size()), static_cast<UINT>(named.size())};
        CallResult r;
        EXCEPINFO ex = {};
        r.hr = d->Invoke(0x60030007, IID_NULL, 0, DISPATCH_METHOD, &dp, r.value.put(), &ex, &r.argErr);
        if (r.hr == DISP_E_EXCEPTION) r.error = com::fromExcepInfo(ex, L"");
        return r;
    };
    CallResult r = byName({com::Var::i2(4), com::Var::i2(3)}, {1, 0});
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_NEAR(r.value.get()->dblVal, -53.130101779804896, 1e-10);
    r = byName({com::Var::i2(4), com::Var::i2(3)}, {1});  // adj 3 in its place, opp by name
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_NEAR(r.value.get()->dblVal, -53.130101779804896, 1e-10);
    // A name that is no parameter, one given twice, and one whose place a positional
    // argument already holds.
    r = byName({com::Var::i2(4), com::Var::i2(3)}, {1, 7});
    EXPECT_EQ(r.hr, DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(r.argErr, 1u) << "the argument named 7";
    EXPECT_EQ(byName({com::Var::i2(4), com::Var::i2(3)}, {1, 1}).hr, DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(byName({com::Var::i2(4), com::Var::i2(3)}, {0}).hr, DISP_E_PARAMNOTFOUND);
}
