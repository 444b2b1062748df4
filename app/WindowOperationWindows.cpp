#include "WindowOperation.h"

// The window runs elevated and carries the archives: the engine does the work here.
std::unique_ptr<Operation> windowOperation()
{
    return inProcessOperation (embeddedPayloads());
}
