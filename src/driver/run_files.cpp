#include "driver/run_files.h"

#include "conversion_state.h"

int createTempFile(const char* prefix, std::string& path, StreamOwner& owner, CreatedFile& file,
                   bool isOutput) {
    InterruptHold hold;
    switch (createScratchFile(prefix, path, owner.stream)) {
        case ScratchResult::kNoName:
            setErrorText("Could not create temp file name.");
            addErrorReason(lastSystemError());
            return 0;
        case ScratchResult::kNotOpened:
            setErrorText("Could not open temp file %s for writing.", path.c_str());
            addErrorReason(lastSystemError());
            return 0;
        case ScratchResult::kCreated:
            break;
    }
    file.arm(path, isOutput);
    return 1;
}
