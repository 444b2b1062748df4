#pragma once

#include "Operation.h"

/** The work behind the window's INSTALL on this platform. */
std::unique_ptr<Operation> windowOperation();
