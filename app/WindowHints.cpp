// The X headers and the framework's X wrappers are needed for the size hints.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "WindowHints.h"

#include "BinaryData.h"

void WindowHints::apply (juce::ResizableWindow& window)
{
   #if JUCE_LINUX || JUCE_BSD
    auto* peer = window.getPeer();
    auto* constrainer = window.getConstrainer();

    if (peer == nullptr || constrainer == nullptr || ! window.isResizable())
        return;

    // The peer would otherwise rewrite the hints without the aspect ratio on
    // every configure event, also those that change nothing we hear of.
    peer->setConstrainer (nullptr);

    auto* x11 = juce::X11Symbols::getInstance();
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    const auto handle = (::Window) (juce::pointer_sized_uint) peer->getNativeHandle();

    if (display == nullptr || handle == 0)
        return;

    const juce::XWindowSystemUtilities::ScopedXLock lock;
    auto* hints = x11->xAllocSizeHints();

    if (hints == nullptr)
        return;

    // With the native title bar the client area is the whole window, in physical pixels.
    const auto factor = peer->getPlatformScaleFactor();
    const auto physical = [factor] (int v) { return juce::jmax (1, juce::roundToInt (v * factor)); };
    const auto bounds = peer->getBounds();

    hints->flags = USPosition | USSize | PMinSize | PMaxSize;
    hints->x = physical (bounds.getX());
    hints->y = physical (bounds.getY());
    hints->width = physical (bounds.getWidth());
    hints->height = physical (bounds.getHeight());
    hints->min_width = physical (constrainer->getMinimumWidth());
    hints->min_height = physical (constrainer->getMinimumHeight());
    hints->max_width = physical (constrainer->getMaximumWidth());
    hints->max_height = physical (constrainer->getMaximumHeight());

    if (const auto ratio = constrainer->getFixedAspectRatio(); ratio > 0.0)
    {
        // The same fraction as lower and upper bound: 1.0 is 1/1.
        const auto denominator = ratio == 1.0 ? 1 : 10000;
        hints->flags |= PAspect;
        hints->min_aspect.x = hints->max_aspect.x = juce::roundToInt (ratio * denominator);
        hints->min_aspect.y = hints->max_aspect.y = denominator;
    }

    x11->xSetWMNormalHints (display, handle, hints);
    x11->xFree (hints);
    x11->xFlush (display);
   #else
    juce::ignoreUnused (window);
   #endif
}

void WindowHints::setIcon (juce::DocumentWindow& window)
{
   #if JUCE_LINUX || JUCE_BSD
    // The document window's own setIcon only reaches a title bar it draws
    // itself; the native one takes the icon from the peer. The plume at a
    // size window managers scale from, rather than a 4 MB property.
    const auto plume = juce::ImageCache::getFromMemory (BinaryData::oh_plume_png, BinaryData::oh_plume_pngSize);
    if (auto* peer = window.getPeer(); peer != nullptr && plume.isValid())
        peer->setIcon (plume.rescaled (128, 128, juce::Graphics::highResamplingQuality));
   #else
    juce::ignoreUnused (window);   // the executable's icon resources serve Windows
   #endif
}
