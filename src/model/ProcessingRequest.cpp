#include "model/ProcessingRequest.h"

namespace tavrolin {

namespace {
template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;
}  // namespace

std::string ProcessingRequest::title() const {
    return std::visit(
        Overloaded{
            [](const RemuxRequest& r) { return "Remux " + r.input.filename().string(); },
            [](const JoinRequest& r) {
                return "Join " + std::to_string(r.inputs.size()) + " files";
            },
            [](const SplitRequest& r) { return "Split " + r.input.filename().string(); },
            [](const ChapterRequest& r) {
                return "Add chapters to " + r.input.filename().string();
            },
            [](const TranscriptionMediaRequest& r) {
                return "Export transcript for " + r.input.filename().string();
            },
        },
        payload);
}

const std::filesystem::path& ProcessingRequest::output() const {
    return std::visit([](const auto& r) -> const std::filesystem::path& { return r.output; },
                      payload);
}

std::vector<std::filesystem::path> ProcessingRequest::inputs() const {
    return std::visit(Overloaded{
                          [](const JoinRequest& r) { return r.inputs; },
                          [](const auto& r) { return std::vector<std::filesystem::path>{r.input}; },
                      },
                      payload);
}

}  // namespace tavrolin
