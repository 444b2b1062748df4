#include "panel_eula.h"

panel_eula::panel_eula (juce::String)
{
}
