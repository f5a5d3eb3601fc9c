#include "planning/ModelServerReply.h"

#include <functional>
#include <limits>
#include <vector>

namespace tavrolin {

namespace {

using Json = nlohmann::ordered_json;

std::string unreadable(const std::string& address, const std::string& why) {
    return "The model server at " + address + " sent an answer Tavrolin can't read (" + why + ").";
}

// One open container while the parser's events stream by, and where in it the reading is.
struct Level {
    bool isArray = false;
    std::size_t index = 0;  // of the element being read, in an array
    std::size_t count = 0;  // elements seen so far, in an array
    std::string key;        // of the member being read, in an object

    bool isMember(std::string_view name) const { return !isArray && key == name; }
};

// Follows the events with the path of open containers; stops the parse past the nesting or
// value limit, and hands each string with its path to `onString`.
class Scanner final : public nlohmann::json_sax<Json> {
  public:
    enum class Stop { none, nestedTooDeeply, tooManyValues };
    using StringVisitor = std::function<void(const std::vector<Level>&, std::string&)>;

    Scanner(std::size_t maxValues, StringVisitor onString)
        : maxValues_(maxValues), onString_(std::move(onString)) {}

    // Parses `text` to its end; throws for a stop, false for text that is not JSON.
    bool read(std::string_view text, const std::string& address) {
        const bool complete = Json::sax_parse(text.begin(), text.end(), this);
        switch (stop_) {
            case Stop::nestedTooDeeply:
                throw ModelServerReplyError::nestedTooDeeply(address);
            case Stop::tooManyValues:
                throw ModelServerReplyError::tooManyValues(address);
            case Stop::none:
                break;
        }
        return complete;
    }

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool string(string_t& text) override {
        if (!value()) {
            return false;
        }
        if (onString_) {
            onString_(levels_, text);
        }
        return true;
    }
    bool key(string_t& name) override {
        levels_.back().key = std::move(name);
        return true;
    }
    bool start_object(std::size_t) override { return open(false); }
    bool start_array(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    bool value() {
        if (++values_ > maxValues_) {
            stop_ = Stop::tooManyValues;
            return false;
        }
        if (!levels_.empty() && levels_.back().isArray) {
            levels_.back().index = levels_.back().count++;
        }
        return true;
    }
    bool open(bool isArray) {
        if (!value()) {
            return false;
        }
        if (levels_.size() == ModelServerReply::maxNesting) {
            stop_ = Stop::nestedTooDeeply;
            return false;
        }
        levels_.push_back({isArray, 0, 0, {}});
        return true;
    }
    bool close() {
        levels_.pop_back();
        return true;
    }

    std::size_t maxValues_;
    StringVisitor onString_;
    std::vector<Level> levels_;
    std::size_t values_ = 0;
    Stop stop_ = Stop::none;
};

constexpr std::size_t unlimited = std::numeric_limits<std::size_t>::max();

}  // namespace

ModelServerReplyError::ModelServerReplyError(Reason reason, const std::string& address,
                                             const std::string& why)
    : LanguageModelError(Case::decodingFailure, unreadable(address, why)), reason_(reason) {}

ModelServerReplyError ModelServerReplyError::nestedTooDeeply(const std::string& address) {
    return {Reason::nestedTooDeeply, address, "nested too deeply"};
}

ModelServerReplyError ModelServerReplyError::tooManyValues(const std::string& address) {
    return {Reason::tooManyValues, address,
            "more than " + std::to_string(ModelServerReply::maxAnswerValues) + " values"};
}

ModelServerReplyError ModelServerReplyError::tooLarge(const std::string& address,
                                                      std::int64_t byteLimit) {
    return {Reason::tooLarge, address,
            "larger than " + std::to_string(byteLimit / (1024 * 1024)) + " MB"};
}

namespace ModelServerReply {

bool listsModel(std::string_view body, const std::string& model, const std::string& address) {
    bool found = false;
    Scanner scanner(unlimited, [&](const std::vector<Level>& path, const std::string& text) {
        found = found || (path.size() == 3 && path[0].isMember("data") && path[1].isArray &&
                          path[2].isMember("id") && text == model);
    });
    return scanner.read(body, address) && found;
}

std::optional<std::string> chatContent(std::string_view body, const std::string& address) {
    std::optional<std::string> content;
    Scanner scanner(unlimited, [&](const std::vector<Level>& path, std::string& text) {
        if (path.size() == 4 && path[0].isMember("choices") && path[1].isArray &&
            path[1].index == 0 && path[2].isMember("message") && path[3].isMember("content")) {
            content = std::move(text);
        }
    });
    return scanner.read(body, address) ? content : std::nullopt;
}

std::optional<nlohmann::ordered_json> answer(std::string_view text, const std::string& address) {
    if (!Scanner(maxAnswerValues, {}).read(text, address)) {
        return std::nullopt;
    }
    return Json::parse(text.begin(), text.end(), nullptr, false);
}

}  // namespace ModelServerReply

}  // namespace tavrolin
