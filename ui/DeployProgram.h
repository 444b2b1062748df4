#pragma once

#include "Operation.h"

#include <string>

/** INSTALL done by the deploy program, the privileged command of the package:
    the window runs as the desktop user and asks pkexec to run it as root, or,
    started as root itself, runs it directly. Linux only. */
namespace DeployProgram
{
/** How to run it. */
struct Command
{
    juce::File program;   ///< the deploy program
    juce::File pkexec;    ///< the setuid helper that asks for an administrator's password
    bool viaPkexec = true;

    /** This process's: the deploy program beside our own executable (the build
        tree), else the package's; through pkexec unless we are root. */
    static Command forThisProcess();
};

/** The command line that runs the request, program first (pkexec's when it
    goes through pkexec). */
std::vector<std::string> commandLine (const Command&, const OperationRequest&);

/** How one run ended, as the window saw it. */
struct Run
{
    enum class Start { started, programMissing, pkexecMissing, failed };

    Start start = Start::started;
    bool viaPkexec = true;
    bool exited = true;          ///< false: ended by a signal
    int status = 0;              ///< the exit status, or the signal's number
    std::string output;          ///< what it wrote on standard output
};

/** What a run means for the result card, the selection and the hint line. */
OperationOutcome interpret (const OperationRequest&, const Command&, const Run&);

/** The operation that runs the deploy program for every INSTALL click, without
    holding up the message loop while the password is asked. */
std::unique_ptr<Operation> operation (Command);
} // namespace DeployProgram
