#pragma once

#include "Installer.h"

#include <functional>
#include <memory>

/** What one INSTALL click asks for. */
struct OperationRequest
{
    PerFormat<bool> formats {};       ///< entry k: format k is to be processed
    bool uninstall = false;
    PerFormat<juce::File> folders;    ///< the target folders the window shows
    juce::String productName;
};

/** What came of it, for the result card, the selection and the hint line. */
struct OperationOutcome
{
    bool success = false;
    PerFormat<bool> processed {};     ///< entry k: format k was dealt with, so its selection goes
    juce::String hint;                ///< what the hint line says about it; empty: nothing to add
};

/** The work behind INSTALL: done here by the engine, or by another program. */
class Operation
{
public:
    virtual ~Operation() = default;

    using Done = std::function<void (const OperationOutcome&)>;

    /** Starts one click's operation; done is called on the message thread once
        it is over, before start returns or later while the message loop runs,
        and never after this object is gone. */
    virtual void start (const OperationRequest&, Done done) = 0;
};

/** The operation done in this process by the engine, with these archives and
    the state folder of its locks and records (none: nothing locked or
    recorded): the window that runs elevated (Windows) and the tests. */
std::unique_ptr<Operation> inProcessOperation (PerFormat<PayloadArchive> payloads, juce::File stateFolder = {});
