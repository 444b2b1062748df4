#include "Operation.h"

namespace
{
    class InProcessOperation final : public Operation
    {
    public:
        InProcessOperation (PerFormat<PayloadArchive> archives, juce::File state) : payloads (archives), stateFolder (std::move (state)) {}

        void start (const OperationRequest& request, Done done) override
        {
            auto selection = request.formats;
            OperationOutcome outcome;
            outcome.success = processSelectedFormats (selection, request.uninstall, request.folders, request.productName, payloads,
                                                      nullptr, { stateFolder });

            for (size_t k = 0; k < selection.size(); ++k)
                outcome.processed[k] = request.formats[k] && ! selection[k];

            done (outcome);
        }

    private:
        const PerFormat<PayloadArchive> payloads;
        const juce::File stateFolder;
    };
}

std::unique_ptr<Operation> inProcessOperation (PerFormat<PayloadArchive> payloads, juce::File stateFolder)
{
    return std::make_unique<InProcessOperation> (payloads, std::move (stateFolder));
}
