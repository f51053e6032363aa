// Shows message boxes for the robot's own test: one box per argument, each
// argument "icon" or "icon:buttons" (icon: none, warning, information,
// error, stop; buttons: ok, yesno, okcancel). The box's caption is "Box N",
// its text two lines. After the last box a box with caption "Answers" lists
// the buttons that were pressed, so the test sees that the robot pressed
// the ones it was told to.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    std::wstring pressed;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i], icon = a, buttons = L"ok";
        size_t colon = a.find(L':');
        if (colon != std::wstring::npos) {
            icon = a.substr(0, colon);
            buttons = a.substr(colon + 1);
        }
        UINT flags = buttons == L"yesno" ? MB_YESNO : buttons == L"okcancel" ? MB_OKCANCEL : MB_OK;
        if (icon == L"warning") flags |= MB_ICONWARNING;
        if (icon == L"information") flags |= MB_ICONINFORMATION;
        if (icon == L"error") flags |= MB_ICONERROR;
        if (icon == L"stop") flags |= MB_ICONSTOP;
        std::wstring caption = L"Box " + std::to_wstring(i);
        std::wstring text = L"First line of " + icon + L"\nC:\\path\\second line";
        int r = MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
        if (r <= 0) return 1;  // no display
        pressed += (pressed.empty() ? L"" : L",") +
                   std::wstring(r == IDOK ? L"OK" : r == IDCANCEL ? L"Cancel" : r == IDYES ? L"Yes" : r == IDNO ? L"No" : L"?");
    }
    MessageBoxW(nullptr, pressed.c_str(), L"Answers", MB_OK);
    return 7;
}
