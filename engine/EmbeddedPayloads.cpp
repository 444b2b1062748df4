#include "Installer.h"

#include "BinaryData.h"

// Part of oh_payload_archives: only the programs that install link it.
PerFormat<PayloadArchive> embeddedPayloads()
{
    return { PayloadArchive { BinaryData::vst3_zip, (size_t) BinaryData::vst3_zipSize },
             PayloadArchive { BinaryData::clap_zip, (size_t) BinaryData::clap_zipSize },
             PayloadArchive { BinaryData::aax_zip,  (size_t) BinaryData::aax_zipSize } };
}
