#include "OpenLink.h"
#include "OpenLinkWindows.h"
#include "SettingsTrust.h"

#include <juce_gui_basics/juce_gui_basics.h>

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
    object, it starts the link's handler there, not with our rights. Calls use
    with that object; false when no Explorer desktop answers (another shell, no
    one signed in at the console, or another account's desktop). */
bool withDesktopShell (const std::function<bool (IShellDispatch2&)>& use)
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

        // The documented form: the desktop's absolute item list (the empty
        // list), as bytes in a VARIANT passed by reference.
        PIDLIST_ABSOLUTE desktopList = nullptr;
        VARIANT location, byReference, noRoot;
        VariantInit (&location);
        VariantInit (&noRoot);
        byReference.vt = VT_VARIANT | VT_BYREF;
        byReference.pvarVal = &location;
        long window = 0;

        if (SUCCEEDED (SHGetKnownFolderIDList (FOLDERID_Desktop, 0, nullptr, &desktopList)))
        {
            const auto size = ILGetSize (desktopList);

            if (auto* bytes = SafeArrayCreateVector (VT_UI1, 0, size))
            {
                memcpy (bytes->pvData, desktopList, size);
                location.vt = VT_ARRAY | VT_UI1;
                location.parray = bytes;
            }

            CoTaskMemFree (desktopList);
        }

        if (location.vt != VT_EMPTY
             && SUCCEEDED (CoCreateInstance (CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.putVoid()))
             && windows->FindWindowSW (&byReference, &noRoot, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.put()) == S_OK
             && desktop
             && SUCCEEDED (desktop->QueryInterface (IID_IServiceProvider, services.putVoid()))
             && SUCCEEDED (services->QueryService (SID_STopLevelBrowser, IID_IShellBrowser, browser.putVoid()))
             && SUCCEEDED (browser->QueryActiveShellView (view.put()))
             && SUCCEEDED (view->GetItemObject (SVGIO_BACKGROUND, IID_IDispatch, background.putVoid()))
             && SUCCEEDED (background->QueryInterface (IID_IShellFolderViewDual, folderView.putVoid()))
             && SUCCEEDED (folderView->get_Application (application.put()))
             && SUCCEEDED (application->QueryInterface (IID_IShellDispatch2, shell.putVoid())))
            opened = use (*shell.get());

        VariantClear (&location);
    }

    if (SUCCEEDED (initialised))
        CoUninitialize();

    return opened;
}

bool openThroughDesktopExplorer (const juce::String& link)
{
    return withDesktopShell ([&link] (IShellDispatch2& shell)
    {
        VARIANT none, show;
        VariantInit (&none);
        VariantInit (&show);
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        bool started = false;

        if (const auto file = SysAllocString (link.toWideCharPointer()))
        {
            started = SUCCEEDED (shell.ShellExecute (file, none, none, none, show));
            SysFreeString (file);
        }

        return started;
    });
}
} // namespace

namespace OpenLinkWindows
{
Calls systemCalls()
{
    Calls c;
    c.isElevated = [] { return SettingsTrust::processIsElevated(); };
    c.throughDesktopExplorer = openThroughDesktopExplorer;
    c.shellExecute = [] (const juce::String& link)
    {
        return (INT_PTR) ShellExecuteW (nullptr, L"open", link.toWideCharPointer(), nullptr, nullptr, SW_SHOWNORMAL) > 32;
    };
    c.copyToClipboard = [] (const juce::String& link) { juce::SystemClipboard::copyTextToClipboard (link); };
    return c;
}

Calls& calls()
{
    static Calls inForce = systemCalls();
    return inForce;
}

bool desktopExplorerAnswers()
{
    return withDesktopShell ([] (IShellDispatch2&) { return true; });
}
} // namespace OpenLinkWindows

LinkOpening openLinkAsDesktopUser (const juce::URL& link)
{
    const auto text = link.toString (true);
    auto& c = OpenLinkWindows::calls();

    // Not elevated: the user's own level already.
    if (! c.isElevated())
        return c.shellExecute (text) ? LinkOpening::started : LinkOpening::failed;

    if (c.throughDesktopExplorer (text))
        return LinkOpening::started;

    // Elevated with no Explorer desktop to ask (another shell, or over-the-
    // shoulder elevation by another account): a browser started from here
    // would run as the administrator. The address goes to the clipboard for
    // the user to open themselves.
    c.copyToClipboard (text);
    return LinkOpening::onClipboard;
}
