#pragma once

#include <memory>

#include "model/LanguageModel.h"
#include "planning/GeneratedRemuxPlan.h"
#include "planning/RemuxIntentParsing.h"

namespace tavrolin {

// Asks a language model for a remux plan: one fresh request per call with the fixed
// instructions, the prompt "User request: " + the trimmed instruction and the plan's output
// schema; decodes the answer and converts it into the app's operations. Immutable after
// creation; any thread may call it. The model's availability is read once, here.
class LanguageModelRemuxIntentParser : public RemuxIntentParsing {
  public:
    // Reads the model's availability: may block (a server is asked), so not on the GUI thread
    // unless the model answers at once.
    explicit LanguageModelRemuxIntentParser(std::shared_ptr<LanguageModel> model);
    // With an availability already known, e.g. while the real one is being read.
    LanguageModelRemuxIntentParser(std::shared_ptr<LanguageModel> model,
                                   LanguageModelAvailability known);

    RemuxIntentParserAvailability availability() const override { return availability_; }
    RemuxIntentPlan parse(const std::string& instruction, std::stop_token stop) const override;

    // The message shown for an unavailable model, by reason.
    static RemuxIntentParserAvailability availabilityFor(LanguageModelAvailability model);
    // The generated plan in the app's terms: video, then audio, then subtitle operations.
    static RemuxIntentPlan convert(const GeneratedRemuxPlan& generated);

  private:
    std::shared_ptr<LanguageModel> model_;
    RemuxIntentParserAvailability availability_;
};

}  // namespace tavrolin
