#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/LanguageModel.h"

namespace tavrolin {

// A reply from the model server that Tavrolin refuses to read: nested deeper than any real
// answer, with more values than any real answer, or larger than the read allows. Its case is
// decodingFailure; what() names the server's address.
class ModelServerReplyError : public LanguageModelError {
  public:
    enum class Reason { nestedTooDeeply, tooManyValues, tooLarge };

    static ModelServerReplyError nestedTooDeeply(const std::string& address);
    static ModelServerReplyError tooManyValues(const std::string& address);
    static ModelServerReplyError tooLarge(const std::string& address, std::int64_t byteLimit);

    Reason reason() const { return reason_; }

  private:
    ModelServerReplyError(Reason reason, const std::string& address, const std::string& what);

    Reason reason_;
};

// Reads the JSON a local model server sends back without trusting it. A server on this computer
// is still a program the user did not write, so every document is checked as a stream of parser
// events, which nothing recursive touches: no document may nest more than `maxNesting`
// containers, the models list and the chat envelope are never built as JSON values (only the
// string wanted is kept), and an answer is built as a value only after the check. Each reader
// throws ModelServerReplyError for a reply past a limit. Pure; any thread.
namespace ModelServerReply {

// Real answers nest a handful of levels.
inline constexpr std::size_t maxNesting = 64;
// A plan or a summary holds a few dozen values; building an ordered object of many more would
// take long (each key is looked up in a list) and much memory.
inline constexpr std::size_t maxAnswerValues = 10000;
// Bytes read of one reply; the read stops as soon as a reply passes them.
inline constexpr std::int64_t chatByteLimit = 4 * 1024 * 1024;
inline constexpr std::int64_t modelsByteLimit = 1024 * 1024;

// Whether a models list (GET /v1/models) has an entry whose "id" is `model` in its "data" list;
// false for a reply that is not JSON.
bool listsModel(std::string_view body, const std::string& model, const std::string& address);
// The text of the first choice's message in a chat reply; none for a reply that is not JSON or
// has no such text.
std::optional<std::string> chatContent(std::string_view body, const std::string& address);
// The model's answer as a JSON value; none for text that is not JSON.
std::optional<nlohmann::ordered_json> answer(std::string_view text, const std::string& address);

}  // namespace ModelServerReply

}  // namespace tavrolin
