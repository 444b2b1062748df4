#include "Application.h"

// Command-line arguments are never looked at.
START_JUCE_APPLICATION (oh_installerApplication)
