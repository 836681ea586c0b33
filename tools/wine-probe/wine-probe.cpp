// wine-probe: a small helper that runs inside a Wine prefix beside the client.
// It reports what the Linux side cannot see (full exit codes, Wine's own
// windows and controls) and pokes those windows the way a user would.
//
//   run TIMEOUT_MS EXE [ARGS...]        start EXE, wait, print its exit code
//   runfile TIMEOUT_MS FILE [CWD]       FILE (UTF-8): line 1 the program,
//                                       line 2 the whole command line, verbatim
//   runwatch TIMEOUT_MS FILE [CWD]      runfile, watching the program's top-level
//                                       windows all the while: a "shown" line
//                                       (JSON) for each one that became visible
//   windows                             top-level windows
//   wait TITLE TIMEOUT_MS [gone]        wait for a visible window (or its end)
//   controls TITLE                      child windows of a top-level window, with
//                                       their client rectangles and fonts
//   click TITLE ID_OR_TEXT              post BM_CLICK to a control
//   answer TITLE BUTTON_TEXT            click a button of a dialog box
//   close TITLE                         post WM_CLOSE
//   rect TITLE                          the window's screen rectangle and client size
//   focus TITLE                         the control that has the keyboard focus in
//                                       the window's thread, and whether its focus
//                                       cue is hidden (JSON)
//   acc TITLE                           each child window as screen readers see it:
//                                       the name and role of its client object (JSON)
//   reg KEY                             a key's values (type, raw bytes in hex)
//                                       and subkeys, 64-bit view, as JSON
//   regset KEY NAME TYPE HEX            store raw bytes as a value of any type
//   regdel KEY [NAME]                   delete a value, or a key with its tree
//   kill PID                            terminate a process
//   args OUTFILE [ARGS...]              write its own command line and argv
//                                       into OUTFILE (JSON)
//   facts                               locale ids, code pages, temp path (JSON)
//   box CAPTION TEXT EXITCODE           show a message box, then exit with
//                                       EXITCODE (exercises the harness itself)
//
// TITLE may also be "hwnd=0x..." to name one window by its handle.
// Output is UTF-8; listings are JSON. Exit status: 0 done, 2 usage,
// 3 window or control not found, 4 the program could not be started.
#include <windows.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

void Out(const std::string& s);

int Usage() {
    Out("usage: wine-probe run|runfile|windows|wait|controls|focus|acc|click|answer|close|rect|reg|regset|regdel"
        " ...\n");
    return 2;
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Raw bytes to the standard output: the console code page would mangle UTF-8.
void Out(const std::string& s) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD done = 0;
    WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &done, nullptr);
    FlushFileBuffers(h);
}

std::string Json(const std::wstring& w) {
    std::string s = Utf8(w), r = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': r += "\\\""; break;
        case '\\': r += "\\\\"; break;
        case '\n': r += "\\n"; break;
        case '\r': r += "\\r"; break;
        case '\t': r += "\\t"; break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                r += b;
            } else {
                r += static_cast<char>(c);
            }
        }
    }
    return r + "\"";
}

std::wstring WindowText(HWND h) {
    // WM_GETTEXT reaches controls of other processes; GetWindowText does not.
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) return {};
    std::wstring t(static_cast<size_t>(n) + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, t.size(), reinterpret_cast<LPARAM>(t.data()), SMTO_ABORTIFHUNG, 2000, &got))
        got = 0;
    t.resize(got);
    return t;
}

std::wstring ClassOf(HWND h) {
    wchar_t c[256] = {};
    GetClassNameW(h, c, 256);
    return c;
}

// Mnemonic ampersands and case do not count when texts are compared.
std::wstring Plain(const std::wstring& s) {
    std::wstring r;
    for (wchar_t c : s)
        if (c != L'&') r += static_cast<wchar_t>(towlower(c));
    return r;
}

struct Found {
    std::wstring title;
    bool dialogOnly;
    HWND hwnd;
    bool visible;
};

BOOL CALLBACK FindTop(HWND h, LPARAM p) {
    auto* f = reinterpret_cast<Found*>(p);
    if (f->dialogOnly && ClassOf(h) != L"#32770") return TRUE;
    if (WindowText(h) != f->title) return TRUE;
    bool vis = IsWindowVisible(h) != FALSE;
    // Prefer a visible window: Wine keeps hidden helper windows of the same name.
    if (!f->hwnd || (vis && !f->visible)) {
        f->hwnd = h;
        f->visible = vis;
    }
    return TRUE;
}

HWND FindTopWindow(const std::wstring& title, bool dialogOnly = false) {
    if (title.rfind(L"hwnd=", 0) == 0) {
        HWND h = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(title.c_str() + 5, nullptr, 16)));
        return IsWindow(h) ? h : nullptr;
    }
    Found f{title, dialogOnly, nullptr, false};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&f));
    return f.hwnd;
}

BOOL CALLBACK Collect(HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> v;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&v));
    return v;
}

std::string Hex(HWND h) {
    char b[32];
    std::snprintf(b, sizeof b, "\"0x%llx\"", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
    return b;
}

// Quotes one argument so that the standard argument rules give it back unchanged.
std::wstring Quote(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring r = L"\"";
    size_t slashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++slashes;
        } else if (c == L'"') {
            r.append(slashes * 2 + 1, L'\\');
            slashes = 0;
        } else {
            r.append(slashes, L'\\');
            slashes = 0;
        }
        if (c != L'\\') r += c;
    }
    r.append(slashes * 2, L'\\');
    return r + L"\"";
}

// --- watching a program's windows

struct Watch {
    DWORD pid = 0;
    std::vector<HWND> seen;
    DWORD start = 0;
    unsigned long polls = 0, events = 0;
};
Watch* gWatch = nullptr;

void NoteShown(HWND h) {
    Watch& w = *gWatch;
    for (HWND s : w.seen)
        if (s == h) return;
    w.seen.push_back(h);
    Out("shown {\"hwnd\":" + Hex(h) + ",\"title\":" + Json(WindowText(h)) + ",\"class\":" + Json(ClassOf(h)) +
        ",\"after_ms\":" + std::to_string(GetTickCount() - w.start) + "}\n");
}

BOOL CALLBACK PollTop(HWND h, LPARAM) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == gWatch->pid && IsWindowVisible(h)) NoteShown(h);
    return TRUE;
}

// Told by the system the moment any window of the program is shown; the polling
// between events catches what a hook might miss.
void CALLBACK OnShow(HWINEVENTHOOK, DWORD, HWND h, LONG object, LONG, DWORD, DWORD) {
    if (object != OBJID_WINDOW || !h) return;
    ++gWatch->events;
    HWND top = GetAncestor(h, GA_ROOT);
    if (top && IsWindowVisible(top)) PollTop(top, 0);
}

DWORD WaitWatching(HANDLE process, DWORD pid, DWORD timeoutMs) {
    Watch watch;
    watch.pid = pid;
    watch.start = GetTickCount();
    gWatch = &watch;
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, OnShow, pid, 0,
                                         WINEVENT_OUTOFCONTEXT);
    const DWORD start = watch.start;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        EnumWindows(PollTop, 0);
        ++watch.polls;
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) break;
        result = MsgWaitForMultipleObjects(1, &process, FALSE, std::min<DWORD>(2, timeoutMs - spent), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        result = WAIT_TIMEOUT;
    }
    if (hook) UnhookWinEvent(hook);
    Out("watched {\"polls\":" + std::to_string(watch.polls) + ",\"events\":" + std::to_string(watch.events) +
        ",\"hook\":" + (hook ? "true" : "false") + "}\n");
    gWatch = nullptr;
    return result;
}

int Run(DWORD timeoutMs, const std::wstring& program, std::wstring cmdline, const wchar_t* cwd, bool watch = false) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    // Wine now and then fails to bring up a new process (ERROR_INTERNAL_ERROR) under load; that says
    // nothing about the program, so it is tried again before the failure is reported.
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt) Sleep(250);
        if (CreateProcessW(program.c_str(), cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd, &si, &pi)) {
            err = ERROR_SUCCESS;
            break;
        }
        err = GetLastError();
        if (err != ERROR_INTERNAL_ERROR) break;
    }
    if (err != ERROR_SUCCESS) {
        Out("error " + std::to_string(err) + "\n");
        return 4;
    }
    // The pid first, so that a caller can find the program's windows meanwhile.
    Out("pid " + std::to_string(pi.dwProcessId) + "\n");
    DWORD w = watch ? WaitWatching(pi.hProcess, pi.dwProcessId, timeoutMs) : WaitForSingleObject(pi.hProcess, timeoutMs);
    if (w != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        bool ended = WaitForSingleObject(pi.hProcess, 5000) == WAIT_OBJECT_0;
        Out(ended ? "timeout\n" : "timeout, still running\n");
    } else {
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        Out(std::to_string(static_cast<long>(static_cast<LONG>(code))) + "\n");
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

bool ReadUtf8File(const std::wstring& path, std::string& out) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    CloseHandle(f);
    return true;
}

int CmdWindows() {
    std::vector<HWND> v;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&v));
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) {
        DWORD pid = 0;
        GetWindowThreadProcessId(v[i], &pid);
        s += (i ? ",\n " : "") + std::string("{\"hwnd\":") + Hex(v[i]) + ",\"title\":" + Json(WindowText(v[i])) +
             ",\"class\":" + Json(ClassOf(v[i])) + ",\"pid\":" + std::to_string(pid) +
             ",\"visible\":" + (IsWindowVisible(v[i]) ? "true" : "false") + "}";
    }
    Out(s + "]\n");
    return 0;
}

// A control's rectangle in its top-level window's client coordinates.
std::string ClientRectIn(HWND c, HWND top) {
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

// The control's font: face, cell height and the extent of its own text in it.
std::string FontOf(HWND c) {
    // Wine answers WM_GETFONT of another process's controls with 0: the dialog template's
    // own font (MS Shell Dlg, 8 points at the screen's scale) stands in for it then.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
    HFONT made = nullptr;
    HDC dc = GetDC(c);
    if (!font) {
        made = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"MS Shell Dlg");
        font = made;
    }
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    const std::wstring text = WindowText(c);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(c, dc);
    if (made) DeleteObject(made);
    return "{\"face\":" + Json(face) + ",\"height\":" + std::to_string(tm.tmHeight) +
           ",\"textWidth\":" + std::to_string(extent.cx) + ",\"textHeight\":" + std::to_string(extent.cy) + "}";
}

int CmdControls(HWND top) {
    std::string s = "[";
    bool first = true;
    for (HWND c : Children(top)) {
        std::wstring cls = ClassOf(c);
        // BM_GETCHECK is meaningful for buttons only; others would answer 0 anyway.
        long check = -1;
        if (Plain(cls) == L"button") check = static_cast<long>(SendMessageW(c, BM_GETCHECK, 0, 0));
        s += (first ? "" : ",\n ") + std::string("{\"hwnd\":") + Hex(c) +
             ",\"id\":" + std::to_string(static_cast<long>(GetDlgCtrlID(c))) + ",\"class\":" + Json(cls) +
             ",\"text\":" + Json(WindowText(c)) + ",\"visible\":" + (IsWindowVisible(c) ? "true" : "false") +
             ",\"enabled\":" + (IsWindowEnabled(c) ? "true" : "false") + ",\"check\":" + std::to_string(check) +
             ",\"parent\":" + Hex(GetParent(c)) + ",\"rect\":" + ClientRectIn(c, top) +
             ",\"font\":" + FontOf(c) + "}";
        first = false;
    }
    Out(s + "]\n");
    return 0;
}

HWND FindControl(HWND top, const std::wstring& idOrText) {
    bool numeric = !idOrText.empty() && idOrText.find_first_not_of(L"0123456789") == std::wstring::npos;
    long id = numeric ? std::wcstol(idOrText.c_str(), nullptr, 10) : 0;
    HWND hidden = nullptr;
    for (HWND c : Children(top)) {
        bool hit = numeric ? GetDlgCtrlID(c) == id : Plain(WindowText(c)) == Plain(idOrText);
        if (!hit) continue;
        if (IsWindowVisible(c)) return c;
        if (!hidden) hidden = c;
    }
    return hidden;
}

int CmdFocus(HWND top) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) {
        Out("error " + std::to_string(GetLastError()) + "\n");
        return 5;
    }
    HWND f = info.hwndFocus;
    if (!f) {
        Out("{\"hwnd\":null,\"id\":null}\n");
        return 0;
    }
    DWORD_PTR ui = 0;
    SendMessageTimeoutW(f, WM_QUERYUISTATE, 0, 0, SMTO_ABORTIFHUNG, 2000, &ui);
    Out("{\"hwnd\":" + Hex(f) + ",\"id\":" + std::to_string(static_cast<long>(GetDlgCtrlID(f))) +
        ",\"class\":" + Json(ClassOf(f)) + ",\"text\":" + Json(WindowText(f)) +
        ",\"active\":" + Hex(info.hwndActive) + ",\"hidefocus\":" + ((ui & UISF_HIDEFOCUS) ? "true" : "false") +
        "}\n");
    return 0;
}

// oleacc, ole32 and oleaut32 from the system directory, looked up only by this command,
// so that no other command pays for loading them.
template <class F>
F SystemProc(const wchar_t* dll, const char* name) {
    HMODULE m = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

int CmdAcc(HWND top) {
    using FromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    using ComInit = HRESULT(WINAPI*)(void*, DWORD);
    using FreeString = void(WINAPI*)(BSTR);
    using StringLen = UINT(WINAPI*)(BSTR);
    using ClearVariant = HRESULT(WINAPI*)(VARIANT*);
    const auto fromWindow = SystemProc<FromWindow>(L"oleacc.dll", "AccessibleObjectFromWindow");
    const auto comInit = SystemProc<ComInit>(L"ole32.dll", "CoInitializeEx");
    const auto freeString = SystemProc<FreeString>(L"oleaut32.dll", "SysFreeString");
    const auto stringLen = SystemProc<StringLen>(L"oleaut32.dll", "SysStringLen");
    const auto clearVariant = SystemProc<ClearVariant>(L"oleaut32.dll", "VariantClear");
    if (!fromWindow || !comInit || !freeString || !stringLen || !clearVariant) {
        Out("error oleacc\n");
        return 5;
    }
    comInit(nullptr, COINIT_APARTMENTTHREADED);
    std::string s = "[";
    bool first = true;
    for (HWND c : Children(top)) {
        IAccessible* acc = nullptr;
        const HRESULT hr =
            fromWindow(c, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible), reinterpret_cast<void**>(&acc));
        std::string name = "null", role = "null";
        if (SUCCEEDED(hr) && acc) {
            VARIANT self{};
            V_VT(&self) = VT_I4;
            V_I4(&self) = CHILDID_SELF;
            BSTR n = nullptr;
            if (acc->get_accName(self, &n) == S_OK && n) name = Json(std::wstring(n, stringLen(n)));
            if (n) freeString(n);
            VARIANT r{};
            if (SUCCEEDED(acc->get_accRole(self, &r)) && V_VT(&r) == VT_I4) role = std::to_string(V_I4(&r));
            clearVariant(&r);
            acc->Release();
        }
        char code[16];
        std::snprintf(code, sizeof code, "\"0x%08lx\"", static_cast<unsigned long>(hr));
        s += (first ? "" : ",\n ") + std::string("{\"hwnd\":") + Hex(c) +
             ",\"id\":" + std::to_string(static_cast<long>(GetDlgCtrlID(c))) + ",\"class\":" + Json(ClassOf(c)) +
             ",\"visible\":" + (IsWindowVisible(c) ? "true" : "false") + ",\"hr\":" + code +
             ",\"name\":" + name + ",\"role\":" + role + "}";
        first = false;
    }
    Out(s + "]\n");
    return 0;
}

bool OpenRoot(const std::wstring& key, HKEY& root, std::wstring& sub) {
    size_t slash = key.find(L'\\');
    std::wstring hive = key.substr(0, slash);
    sub = slash == std::wstring::npos ? L"" : key.substr(slash + 1);
    if (hive == L"HKCU" || hive == L"HKEY_CURRENT_USER") root = HKEY_CURRENT_USER;
    else if (hive == L"HKLM" || hive == L"HKEY_LOCAL_MACHINE") root = HKEY_LOCAL_MACHINE;
    else if (hive == L"HKU" || hive == L"HKEY_USERS") root = HKEY_USERS;
    else if (hive == L"HKCR" || hive == L"HKEY_CLASSES_ROOT") root = HKEY_CLASSES_ROOT;
    else return false;
    return true;
}

std::string HexBytes(const BYTE* b, DWORD n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (DWORD i = 0; i < n; ++i) {
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

int CmdReg(const std::wstring& key) {
    HKEY root, k;
    std::wstring sub;
    if (!OpenRoot(key, root, sub)) return Usage();
    if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) {
        Out("{\"exists\":false}\n");
        return 0;
    }
    std::string s = "{\"exists\":true,\"values\":[";
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, type = 0, size = 0;
        if (RegEnumValueW(k, i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 1);
        nameLen = 16384;
        DWORD got = size;
        RegEnumValueW(k, i, name, &nameLen, nullptr, &type, data.data(), &got);
        s += (i ? ",\n " : "") + std::string("{\"name\":") + Json(std::wstring(name, nameLen)) +
             ",\"type\":" + std::to_string(type) + ",\"data\":\"" + HexBytes(data.data(), got) + "\"}";
    }
    s += "],\"subkeys\":[";
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (RegEnumKeyExW(k, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        s += (i ? "," : "") + Json(std::wstring(name, nameLen));
    }
    RegCloseKey(k);
    Out(s + "]}\n");
    return 0;
}

int CmdRegSet(const std::wstring& key, const std::wstring& name, const std::wstring& type, const std::wstring& hex) {
    HKEY root, k;
    std::wstring sub;
    if (!OpenRoot(key, root, sub) || hex.size() % 2) return Usage();
    std::vector<BYTE> data;
    for (size_t i = 0; i < hex.size(); i += 2) data.push_back(static_cast<BYTE>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    DWORD size = static_cast<DWORD>(data.size());
    // A text whose buffer continues with a zero code unit gets that terminator
    // stored too (Windows does the same); a non-zero guard keeps the bytes exact.
    data.push_back(0xff);
    data.push_back(0xff);
    LONG r = RegCreateKeyExW(root, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &k, nullptr);
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExW(k, name.c_str(), 0, std::wcstoul(type.c_str(), nullptr, 10), data.data(), size);
        RegCloseKey(k);
    }
    Out(std::to_string(r) + "\n");
    return r == ERROR_SUCCESS ? 0 : 5;
}

int CmdRegDel(const std::wstring& key, const wchar_t* name) {
    HKEY root, k;
    std::wstring sub;
    if (!OpenRoot(key, root, sub)) return Usage();
    LONG r = RegOpenKeyExW(root, sub.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &k);
    if (r == ERROR_SUCCESS) {
        r = name ? RegDeleteValueW(k, name) : RegDeleteTreeW(k, nullptr);
        RegCloseKey(k);
        if (!name && r == ERROR_SUCCESS) r = RegDeleteKeyExW(root, sub.c_str(), KEY_WOW64_64KEY, 0);
    }
    Out(std::to_string(r) + "\n");
    return 0;
}

}  // namespace

int Main(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    std::wstring cmd = argv[1];

    if (cmd == L"run" && argc >= 4) {
        std::wstring line = Quote(argv[3]);
        for (int i = 4; i < argc; ++i) line += L" " + Quote(argv[i]);
        return Run(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), argv[3], line, nullptr);
    }
    if ((cmd == L"runfile" || cmd == L"runwatch") && argc >= 4) {
        std::string raw;
        if (!ReadUtf8File(argv[3], raw)) {
            Out("error " + std::to_string(GetLastError()) + "\n");
            return 4;
        }
        size_t nl = raw.find('\n');
        if (nl == std::string::npos) return Usage();
        std::wstring program = Wide(raw.substr(0, nl));
        std::string rest = raw.substr(nl + 1);
        // Only the file's own final line feed is not part of the command line.
        if (!rest.empty() && rest.back() == '\n') rest.pop_back();
        const wchar_t* cwd = argc >= 5 ? argv[4] : nullptr;
        return Run(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), program, Wide(rest), cwd,
                   cmd == L"runwatch");
    }
    if (cmd == L"windows") return CmdWindows();
    if (cmd == L"kill" && argc >= 3) {
        HANDLE p = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        // An ended process stays openable while someone holds a handle to it.
        DWORD code = 0;
        BOOL ok = p && GetExitCodeProcess(p, &code) && code == STILL_ACTIVE && TerminateProcess(p, 0xDEAD);
        if (p) CloseHandle(p);
        Out(ok ? "killed\n" : "no process\n");
        return ok ? 0 : 3;
    }
    if (cmd == L"args" && argc >= 3) {
        std::string a = "{\"cmdline\":" + Json(GetCommandLineW()) + ",\"argv\":[";
        for (int i = 3; i < argc; ++i) a += (i > 3 ? "," : "") + Json(argv[i]);
        a += "]}\n";
        HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return 4;
        DWORD done = 0;
        WriteFile(f, a.data(), static_cast<DWORD>(a.size()), &done, nullptr);
        CloseHandle(f);
        return 0;
    }
    if (cmd == L"facts") {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        Out("{\"system_lcid\":" + std::to_string(GetSystemDefaultLCID()) +
            ",\"user_lcid\":" + std::to_string(GetUserDefaultLCID()) + ",\"acp\":" + std::to_string(GetACP()) +
            ",\"oemcp\":" + std::to_string(GetOEMCP()) + ",\"temp\":" + Json(temp) + "}\n");
        return 0;
    }
    if (cmd == L"box" && argc >= 5) {
        MessageBoxW(nullptr, argv[3], argv[2], MB_OK);
        return static_cast<int>(std::wcstol(argv[4], nullptr, 10));
    }
    if (cmd == L"reg" && argc >= 3) return CmdReg(argv[2]);
    if (cmd == L"regset" && argc >= 6) return CmdRegSet(argv[2], argv[3], argv[4], argv[5]);
    if (cmd == L"regdel" && argc >= 3) return CmdRegDel(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (cmd == L"wait" && argc >= 4) {
        bool gone = argc >= 5 && std::wstring(argv[4]) == L"gone";
        DWORD limit = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
        DWORD start = GetTickCount();
        for (;;) {
            HWND h = FindTopWindow(argv[2]);
            bool present = h && IsWindowVisible(h);
            if (present != gone) {
                Out(gone ? "gone\n" : Hex(h) + "\n");
                return 0;
            }
            if (GetTickCount() - start >= limit) {
                Out("timeout\n");
                return 3;
            }
            Sleep(50);
        }
    }
    if (argc < 3) return Usage();

    bool dialogOnly = cmd == L"answer";
    HWND top = FindTopWindow(argv[2], dialogOnly);
    if (!top) {
        Out("no window\n");
        return 3;
    }
    if (cmd == L"controls") return CmdControls(top);
    if (cmd == L"focus") return CmdFocus(top);
    if (cmd == L"acc") return CmdAcc(top);
    if (cmd == L"close") {
        PostMessageW(top, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == L"rect") {
        RECT r{}, client{};
        GetWindowRect(top, &r);
        GetClientRect(top, &client);
        Out("{\"left\":" + std::to_string(r.left) + ",\"top\":" + std::to_string(r.top) +
            ",\"right\":" + std::to_string(r.right) + ",\"bottom\":" + std::to_string(r.bottom) +
            ",\"clientWidth\":" + std::to_string(client.right) + ",\"clientHeight\":" + std::to_string(client.bottom) +
            "}\n");
        return 0;
    }
    if ((cmd == L"click" || cmd == L"answer") && argc >= 4) {
        HWND c = FindControl(top, argv[3]);
        if (!c) {
            Out("no control\n");
            return 3;
        }
        // Posted, never sent: a sent click would block until a modal loop it opens ends.
        PostMessageW(c, BM_CLICK, 0, 0);
        return 0;
    }
    return Usage();
}

// The result is printed as well: now and then the host's loader fails while a Wine process ends
// ("Inconsistency detected by ld.so"), and the exit status the caller sees is then not this one.
int wmain(int argc, wchar_t** argv) {
    const int rc = Main(argc, argv);
    Out("#rc " + std::to_string(rc) + "\n");
    return rc;
}
