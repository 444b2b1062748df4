#include "Operation.h"

namespace
{
    class InProcessOperation final : public Operation
    {
    public:
        explicit InProcessOperation (PerFormat<PayloadArchive> archives) : payloads (archives) {}

        void start (const OperationRequest& request, Done done) override
        {
            auto selection = request.formats;
            OperationOutcome outcome;
            outcome.success = processSelectedFormats (selection, request.uninstall, request.folders, request.productName, payloads);

            for (size_t k = 0; k < selection.size(); ++k)
                outcome.processed[k] = request.formats[k] && ! selection[k];

            done (outcome);
        }

    private:
        const PerFormat<PayloadArchive> payloads;
    };
}

std::unique_ptr<Operation> inProcessOperation (PerFormat<PayloadArchive> payloads)
{
    return std::make_unique<InProcessOperation> (payloads);
}
