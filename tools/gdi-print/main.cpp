// zel-gdi-print: prints a one-page GDI document (text and shapes) on a
// printer, the way any Windows application does, so the monitor receives the
// PostScript that the printer's driver makes of it. (zelport add-printer
// installs Wine's PostScript driver, which a fresh Wine prefix lacks.)

#include <windows.h>
#include <winspool.h>

#include <map>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Text.h"

namespace {

using zeltools::Err;
using zeltools::Out;

const wchar_t kUsage[] = L"usage: zel-gdi-print print PRINTER [--document NAME] [--output FILE]\n"
                         L"\n"
                         L"prints a one-page GDI document on PRINTER (or into FILE)\n";

int Failed(const std::wstring& what, DWORD code) {
    Err(L"zel-gdi-print: " + zeltools::ErrorText(what, code) + L"\n");
    return 1;
}

using Font = zeltools::Owned<HFONT, &DeleteObject>;

HFONT Arial(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Arial");
}

void DrawPage(HDC dc, const std::wstring& document) {
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX);
    const int dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    const int inchX = dpiX > 0 ? dpiX : 300;
    const int inchY = dpiY > 0 ? dpiY : 300;
    // A font still selected into the context when it is deleted would leak:
    // the context's own font goes back in before they are.
    const Font title(Arial(inchY / 3, FW_BOLD)), body(Arial(inchY / 6, FW_NORMAL));
    const HGDIOBJ old = GetCurrentObject(dc, OBJ_FONT);
    SelectObject(dc, title.Valid() ? title.Get() : old);
    TextOutW(dc, inchX, inchY, document.c_str(), static_cast<int>(document.size()));
    SelectObject(dc, body.Valid() ? body.Get() : old);
    const std::wstring lines[] = {
        L"Printed through GDI and the printer's PostScript driver.",
        L"The port monitor wrote this job, byte for byte, into a PS file",
        L"and handed it to the print dispatcher.",
        L"Non-ASCII text: caf\u00e9, \u00fcber, \u20ac 42.",
    };
    int y = inchY * 2;
    for (const std::wstring& line : lines) {
        TextOutW(dc, inchX, y, line.c_str(), static_cast<int>(line.size()));
        y += inchY / 4;
    }
    Rectangle(dc, inchX, y + inchY / 4, inchX * 4, y + inchY * 2);
    Ellipse(dc, inchX * 5 / 2, y + inchY / 2, inchX * 7 / 2, y + inchY * 3 / 2);
    MoveToEx(dc, inchX, y + inchY * 2, nullptr);
    LineTo(dc, inchX * 4, y + inchY / 4);
    SelectObject(dc, old);
}

// With an output file the spooler writes the driver's data there instead of
// to the port: the same bytes the port would have received.
int Print(const std::wstring& printer, const std::wstring& document, const std::wstring& output) {
    zeltools::Owned<HDC, &DeleteDC> dc(CreateDCW(L"WINSPOOL", printer.c_str(), nullptr, nullptr));
    if (!dc.Get()) {
        return Failed(L"cannot open printer " + printer, GetLastError());
    }
    DOCINFOW info{sizeof(info), document.c_str(), output.empty() ? nullptr : output.c_str(),
                  nullptr, 0};
    const int job = StartDocW(dc.Get(), &info);
    if (job <= 0) {
        return Failed(L"cannot start a document on " + printer, GetLastError());
    }
    // The document is aborted unless it was ended.
    const wchar_t* failed = StartPage(dc.Get()) <= 0 ? L"cannot start a page" : nullptr;
    if (!failed) {
        DrawPage(dc.Get(), document);
        failed = EndPage(dc.Get()) <= 0 ? L"cannot end the page" : nullptr;
    }
    if (failed) {
        const DWORD error = GetLastError();
        AbortDoc(dc.Get());
        return Failed(failed, error);
    }
    if (EndDoc(dc.Get()) <= 0) {
        return Failed(L"the printer did not accept the document", GetLastError());
    }
    Out(L"job " + std::to_wstring(job) + L" printed on " + printer + L"\n");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args.size() % 2 == 0 && args[0] == L"print") {
        std::map<std::wstring, std::wstring> options{{L"--document", L"GDI test page"},
                                                     {L"--output", L""}};
        bool ok = true;
        for (size_t i = 2; ok && i + 1 < args.size(); i += 2) {
            ok = options.count(args[i]) == 1;
            options[args[i]] = args[i + 1];
        }
        if (ok) {
            return Print(args[1], options[L"--document"], options[L"--output"]);
        }
    }
    bool help = !args.empty() && (args[0] == L"--help" || args[0] == L"-h");
    (help ? Out : Err)(kUsage);
    return help ? 0 : 2;
}
