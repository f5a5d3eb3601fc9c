#include "engine/PreviewPreparationError.h"

#include <utility>

namespace tavrolin {

PreviewPreparationError::PreviewPreparationError(Case errorCase, std::string message,
                                                 const std::string& description)
    : std::runtime_error(description), case_(errorCase), message_(std::move(message)) {}

PreviewPreparationError PreviewPreparationError::generationFailed(const std::string& message) {
    return PreviewPreparationError(
        Case::generationFailed, message,
        message.empty() ? "A compatible local preview could not be generated." : message);
}

PreviewPreparationError PreviewPreparationError::inspectionFailed() {
    return PreviewPreparationError(Case::inspectionFailed, {},
                                   "The source could not be inspected for preview compatibility.");
}

}  // namespace tavrolin
