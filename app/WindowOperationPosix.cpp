#include "WindowOperation.h"

#include "DeployProgram.h"

// The window runs as the desktop user: the package's deploy program does the
// work as root, through pkexec, which asks for an administrator's password.
std::unique_ptr<Operation> windowOperation()
{
    return DeployProgram::operation (DeployProgram::Command::forThisProcess());
}
