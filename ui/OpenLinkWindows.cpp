#include "OpenLink.h"
#include "SettingsTrust.h"

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shellapi.h>

namespace
{
/** Holds one COM reference and releases it. */
template <typename Interface>
class Com
{
public:
    Com() = default;
    ~Com()                          { if (pointer != nullptr) pointer->Release(); }
    Com (const Com&) = delete;
    Com& operator= (const Com&) = delete;

    Interface* operator->() const   { return pointer; }
    Interface* get() const          { return pointer; }
    Interface** put()               { return &pointer; }
    void** putVoid()                { return reinterpret_cast<void**> (&pointer); }
    explicit operator bool() const  { return pointer != nullptr; }

private:
    Interface* pointer = nullptr;
};

/** The desktop's Explorer runs at the user's own level: asked through its shell
    object, it starts the link's handler there, not with our rights. False when
    no Explorer desktop answers (another shell, no one signed in at the console). */
bool openThroughDesktopExplorer (const juce::String& link)
{
    const auto initialised = CoInitializeEx (nullptr, COINIT_APARTMENTTHREADED);
    bool opened = false;

    {
        Com<IShellWindows> windows;
        Com<IDispatch> desktop;
        Com<IServiceProvider> services;
        Com<IShellBrowser> browser;
        Com<IShellView> view;
        Com<IDispatch> background;
        Com<IShellFolderViewDual> folderView;
        Com<IDispatch> application;
        Com<IShellDispatch2> shell;

        VARIANT noLocation;
        VariantInit (&noLocation);
        long window = 0;

        if (SUCCEEDED (CoCreateInstance (CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.putVoid()))
             && windows->FindWindowSW (&noLocation, &noLocation, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put()) == S_OK
             && desktop
             && SUCCEEDED (desktop->QueryInterface (IID_IServiceProvider, services.putVoid()))
             && SUCCEEDED (services->QueryService (SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid()))
             && SUCCEEDED (browser->QueryActiveShellView (view.put()))
             && SUCCEEDED (view->GetItemObject (SVGIO_BACKGROUND, IID_IDispatch, background.putVoid()))
             && SUCCEEDED (background->QueryInterface (IID_IShellFolderViewDual, folderView.putVoid()))
             && SUCCEEDED (folderView->get_Application (application.put()))
             && SUCCEEDED (application->QueryInterface (IID_IShellDispatch2, shell.putVoid())))
        {
            VARIANT none, show;
            VariantInit (&none);
            VariantInit (&show);
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;

            if (const auto file = SysAllocString (link.toWideCharPointer()))
            {
                opened = SUCCEEDED (shell->ShellExecute (file, none, none, none, show));
                SysFreeString (file);
            }
        }
    }

    if (SUCCEEDED (initialised))
        CoUninitialize();

    return opened;
}
} // namespace

bool openLinkAsDesktopUser (const juce::URL& link)
{
    const auto text = link.toString (true);

    if (SettingsTrust::processIsElevated() && openThroughDesktopExplorer (text))
        return true;

    // Not elevated, the user's own level already; or no Explorer desktop to ask.
    return (INT_PTR) ShellExecuteW (nullptr, L"open", text.toWideCharPointer(), nullptr, nullptr, SW_SHOWNORMAL) > 32;
}
