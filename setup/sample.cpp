#include "setup/sample.h"
#include "setup/sample_ids.h"
#include "server/comhelp.h"
#include "server/errors.h"
#include "server/handles.h"
#include "server/modal.h"
#include "server/runtime.h"

#include <commctrl.h>
#include <oleauto.h>
#include <algorithm>

namespace {

// Where a control stands, in twips from the client area's top-left corner.
struct Place {
    int left, top, width, height;
};

// How a field's text becomes its setting.
enum class Conversion {
    Integer,     // a 16-bit integer, halves to even
    Single,      // a single
    Percentage,  // a double, divided by 100 and narrowed to a single
};

// The form's fields, in the order OK converts and stores them: each with its label, its
// initial text, its tooltips, its conversion and the setting it fills. Adding a field is
// a row here, its two controls in sample.rc and sample_ids.h, and its setting.
struct Field {
    int labelId;
    Place label;
    const wchar_t* labelTooltip;  // null: none
    int id;
    Place place;
    const wchar_t* text;  // initial text, a number written with "."
    const wchar_t* tooltip;
    Conversion conversion;
    SHORT Settings::*integer;  // filled by an Integer field
    float Settings::*single;   // filled by the others
};
const Field kFields[] = {
    {IDC_LABEL1, {240, 840, 2055, 255}, nullptr, IDC_NUMBER1, {2520, 840, 495, 285}, L"20", L"Time to move in this axis",
     Conversion::Integer, &Settings::xCalibTime, nullptr},
    {IDC_LABEL2, {240, 1320, 1815, 255}, nullptr, IDC_NUMBER2, {2520, 1320, 495, 285}, L"20", L"Time to move in this axis",
     Conversion::Integer, &Settings::yCalibTime, nullptr},
    {IDC_LABEL3, {240, 3000, 1575, 495}, nullptr, IDC_NUMBER3, {2520, 3000, 495, 285}, L"90",
     L"Percentage of measured backlash to correct for", Conversion::Percentage, nullptr, &Settings::backlashCorrection},
    {IDC_LABEL4, {240, 240, 2055, 375}, L"Exposure duration in seconds", IDC_NUMBER4, {2520, 210, 495, 285}, L"2.0",
     nullptr, Conversion::Single, nullptr, &Settings::calibExpTime},
    {IDC_LABEL5, {240, 1800, 2055, 255}, nullptr, IDC_NUMBER5, {2520, 1800, 495, 285}, L"0", nullptr,
     Conversion::Single, nullptr, &Settings::declination},
};

// The other controls.
struct Control {
    int id;
    Place place;
    const wchar_t* tooltip;
};
const Control kControls[] = {
    {IDC_CHECK1, {240, 2400, 2535, 375}, L"Tick to enable auto backlash calculation"},
    {IDOK, {360, 3720, 975, 375}, nullptr},
    {IDCANCEL, {1800, 3720, 975, 375}, nullptr},
};

constexpr int kClientWidthTwips = 3360;
constexpr int kClientHeightTwips = 4500;

int twipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

// The text of a field as a BSTR (the runtime's conversions take one).
com::Bstr fieldText(HWND dlg, int id) {
    HWND field = GetDlgItem(dlg, id);
    int n = GetWindowTextLengthW(field);
    com::Bstr text;
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (!b) return text;
    GetWindowTextW(field, b, n + 1);
    return com::Bstr::attach(b);
}

// The owner the form is centred on: the caller's active window; when there is none,
// a hidden window of our own keeps the form off the taskbar and centred on the screen.
class Owner {
public:
    Owner() : window_(GetActiveWindow()) {
        if (!window_) {
            hidden_ = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      runtime::instance(), nullptr);
            window_ = hidden_;
        }
    }
    ~Owner() { if (hidden_) DestroyWindow(hidden_); }
    HWND window() const { return window_; }
    bool hidden() const { return hidden_ != nullptr; }
private:
    HWND window_ = nullptr;
    HWND hidden_ = nullptr;
};

struct ShowContext {
    SetupOutcome* outcome;  // what this showing produces
    const Owner* owner;
    win::Font fitted;  // a smaller font made for the labels, deleted with the form
};

// An initial text in the user's locale: the decimal point of a number written in the
// form's table ("2.0") becomes the user's decimal separator ("2,0" in German and
// French), so that accepting the form unchanged means the same value everywhere.
// Empty when out of memory.
com::Bstr inUserLocale(const wchar_t* text) {
    wchar_t separator[8] = L".";
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, ARRAYSIZE(separator))) separator[0] = L'.', separator[1] = 0;
    const UINT sepLength = static_cast<UINT>(lstrlenW(separator));
    UINT length = 0;
    for (const wchar_t* c = text; *c; ++c) length += *c == L'.' ? sepLength : 1;
    com::Bstr out = com::Bstr::attach(SysAllocStringLen(nullptr, length));
    if (!out.get()) return out;
    BSTR w = out.get();
    for (const wchar_t* c = text; *c; ++c) {
        if (*c != L'.') *w++ = *c;
        else for (UINT i = 0; i < sepLength; ++i) *w++ = separator[i];
    }
    return out;
}

// The runtime's locale-aware number grammar (blanks, signs, the user's decimal
// separator, an exponent, ...) without digit grouping and currency signs: under a
// German locale "2.5" is refused rather than read as 25, and "1,000" is refused in
// every locale where "," groups digits.
constexpr ULONG kNumberGrammar = NUMPRS_STD & ~(NUMPRS_THOUSANDS | NUMPRS_CURRENCY);

// Converts a field's text to the type of `vtBit` (VTBIT_I2, VTBIT_R4, VTBIT_R8) with the
// runtime's parser and conversion: integers round halves to even, a value outside the
// type's range fails.
HRESULT parseNumber(const com::Bstr& text, ULONG vtBit, com::Var& out) {
    NUMPARSE np = {};
    BYTE digits[1024];
    np.cDig = ARRAYSIZE(digits);
    np.dwInFlags = kNumberGrammar;
    // Blanks after the number are the grammar's too, but Wine's parser refuses them
    // where the locale groups digits with a no-break space (French) and grouping is
    // left out: they are cut here. (An empty field has no BSTR at all.)
    UINT length = text.length();
    const wchar_t* t = text.c_str();
    auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; };
    while (length > 0 && blank(t[length - 1])) --length;
    com::Bstr cut = com::Bstr::attach(SysAllocStringLen(t, length));
    if (!cut.get()) return E_OUTOFMEMORY;
    HRESULT hr = VarParseNumFromStr(cut.get(), LOCALE_USER_DEFAULT, 0, &np, digits);
    if (FAILED(hr)) return hr;
    return VarNumFromParseNum(&np, digits, vtBit, out.put());
}

// True when `text` fits the control's client rectangle in font `font`, word-wrapped.
bool fits(HDC dc, HFONT font, const wchar_t* text, const RECT& box) {
    HGDIOBJ old = SelectObject(dc, font);
    RECT need = {0, 0, box.right, 0};
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    return need.bottom <= box.bottom && need.right <= box.right;
}

// When a label's text does not fit its fixed size in the dialog's font (a wider
// substitute font, large fonts), all labels get the same face one or two pixels of
// character height smaller (the font's height is in pixels here): the largest size at
// which every label fits.
void fitLabels(HWND dlg, ShowContext& context) {
    HFONT base = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    LOGFONTW lf;
    if (!base || !GetObjectW(base, sizeof(lf), &lf)) return;
    win::WindowDC dc(dlg);
    if (!dc) return;
    auto allFit = [&](HFONT font) {
        for (const Field& f : kFields) {
            HWND label = GetDlgItem(dlg, f.labelId);
            wchar_t text[128];
            RECT box;
            GetWindowTextW(label, text, 128);
            GetClientRect(label, &box);
            if (!fits(dc.get(), font, text, box)) return false;
        }
        return true;
    };
    if (allFit(base)) return;
    win::Font font;
    for (int smaller = 1; smaller <= 2; ++smaller) {
        LOGFONTW f = lf;
        f.lfHeight = lf.lfHeight < 0 ? lf.lfHeight + smaller : lf.lfHeight - smaller;
        font = win::Font(CreateFontIndirectW(&f));
        if (!font || allFit(font.get())) break;
    }
    if (!font) return;
    for (const Field& f : kFields) SendMessageW(GetDlgItem(dlg, f.labelId), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    context.fitted = std::move(font);
}

// Converts a field's text as the field's row says: S_OK with the setting stored.
HRESULT store(HWND dlg, const Field& f, Settings& s) {
    com::Var v;
    HRESULT hr;
    switch (f.conversion) {
    case Conversion::Integer:
        if (FAILED(hr = parseNumber(fieldText(dlg, f.id), VTBIT_I2, v))) return hr;
        s.*f.integer = v.get()->iVal;
        return S_OK;
    case Conversion::Single:
        if (FAILED(hr = parseNumber(fieldText(dlg, f.id), VTBIT_R4, v))) return hr;
        s.*f.single = v.get()->fltVal;
        return S_OK;
    case Conversion::Percentage: {
        // In double precision, divided by 100, narrowed to single: a quotient beyond
        // the single range fails.
        float fraction = 0.0f;
        if (FAILED(hr = parseNumber(fieldText(dlg, f.id), VTBIT_R8, v)) ||
            FAILED(hr = VarR4FromR8(v.get()->dblVal / 100.0, &fraction)))
            return hr;
        s.*f.single = fraction;
        return S_OK;
    }
    }
    return E_UNEXPECTED;
}

} // namespace

// The module's form, kept for its life; built with the module, so that no thread can
// see it half-made.
SetupForm SetupForm::instance_;

SetupForm& SetupForm::instance() { return instance_; }

HRESULT SetupForm::show(SetupOutcome& outcome) {
    // A run the user cancels must never go on with an earlier showing's values.
    outcome.dataValid_ = false;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    Owner owner;
    ShowContext context = {&outcome, &owner, {}};
    INT_PTR r = DialogBoxParamW(runtime::instance(), MAKEINTRESOURCEW(IDD_SAMPLE), owner.window(),
                                &SetupForm::dialogProc, reinterpret_cast<LPARAM>(&context));
    // The dialog's loop ends early when the thread is told to quit; the request is
    // left for the host's own loop.
    if (modal::quitRequested()) {
        outcome.dataValid_ = false;
        return modal::hostClosing();
    }
    if (r == -1 || r == 0) {
        // The window could not be made (0: refused at creation).
        outcome.dataValid_ = false;
        return errors::raise(E_FAIL, L"The setup form could not be shown");
    }
    return S_OK;
}

void SetupForm::layout(HWND dlg) {
    int dpiX, dpiY;
    {
        win::WindowDC dc(dlg);
        dpiX = GetDeviceCaps(dc.get(), LOGPIXELSX);
        dpiY = GetDeviceCaps(dc.get(), LOGPIXELSY);
    }

    // Client area of the form, then the frame around it.
    RECT r = {0, 0, twipsToPixels(kClientWidthTwips, dpiX), twipsToPixels(kClientHeightTwips, dpiY)};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE)));
    const int width = r.right - r.left, height = r.bottom - r.top;

    HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dlg, nullptr,
                                runtime::instance(), nullptr);
    auto place = [&](int id, const Place& p, const wchar_t* text, const wchar_t* tooltip) {
        HWND c = GetDlgItem(dlg, id);
        MoveWindow(c, twipsToPixels(p.left, dpiX), twipsToPixels(p.top, dpiY), twipsToPixels(p.width, dpiX),
                   twipsToPixels(p.height, dpiY), FALSE);
        if (text) SetWindowTextW(c, inUserLocale(text).c_str());
        if (tooltip && tips) {
            TOOLINFOW ti = {};
            ti.cbSize = sizeof(ti);
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = dlg;
            ti.uId = reinterpret_cast<UINT_PTR>(c);
            ti.lpszText = const_cast<LPWSTR>(tooltip);
            SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        }
    };
    for (const Field& f : kFields) {
        place(f.labelId, f.label, nullptr, f.labelTooltip);
        place(f.id, f.place, f.text, f.tooltip);
    }
    for (const Control& c : kControls) place(c.id, c.place, nullptr, c.tooltip);

    // Centred on the owner, or on the screen's work area when the owner is our own.
    HWND owner = GetWindow(dlg, GW_OWNER);
    RECT around;
    const ShowContext* context = reinterpret_cast<const ShowContext*>(GetWindowLongPtrW(dlg, DWLP_USER));
    if (!owner || (context && context->owner->hidden()) || !GetWindowRect(owner, &around))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
    int x = around.left + ((around.right - around.left) - width) / 2;
    int y = around.top + ((around.bottom - around.top) - height) / 2;
    // Never partly off the screen the owner is on.
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    if (GetMonitorInfoW(MonitorFromRect(&around, MONITOR_DEFAULTTONEAREST), &mi)) {
        x = std::max(static_cast<int>(mi.rcWork.left), std::min(x, static_cast<int>(mi.rcWork.right) - width));
        y = std::max(static_cast<int>(mi.rcWork.top), std::min(y, static_cast<int>(mi.rcWork.bottom) - height));
    }
    SetWindowPos(dlg, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetupForm::accept(HWND dlg, SetupOutcome& o) {
    // Each value is stored as soon as it is converted; a failure leaves the ones
    // before it stored and the form open.
    for (const Field& f : kFields) {
        if (FAILED(store(dlg, f, o.settings_))) {
            modal::showMessage(L"Please enter a number", dlg);
            return;
        }
    }
    o.settings_.correctBacklash = IsDlgButtonChecked(dlg, IDC_CHECK1) != BST_UNCHECKED;
    o.dataValid_ = true;
    EndDialog(dlg, IDOK);
}

INT_PTR CALLBACK SetupForm::dialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrW(dlg, DWLP_USER, lp);
        auto* context = reinterpret_cast<ShowContext*>(lp);
        layout(dlg);
        fitLabels(dlg, *context);
        SendMessageW(dlg, DM_SETDEFID, IDOK, 0);
        SetFocus(GetDlgItem(dlg, IDOK));
        return FALSE;  // focus set here
    }
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK && HIWORD(wp) == BN_CLICKED) {
            auto* context = reinterpret_cast<ShowContext*>(GetWindowLongPtrW(dlg, DWLP_USER));
            accept(dlg, *context->outcome);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {  // Cancel, Escape and the close box
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_DESTROY: {
        auto* context = reinterpret_cast<ShowContext*>(GetWindowLongPtrW(dlg, DWLP_USER));
        if (context) context->fitted.reset();
        break;
    }
    default:
        break;
    }
    return FALSE;
}
