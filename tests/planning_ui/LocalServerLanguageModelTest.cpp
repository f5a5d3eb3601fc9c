#include "planning/LocalServerLanguageModel.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <functional>
#include <future>

#include "app/QtTestApplication.h"
#include "model/CancellationError.h"
#include "planning/LanguageModelRemuxIntentParser.h"
#include "planning/RemuxIntentResolver.h"
#include "planning/RemuxPlanVocabulary.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "support/TestMedia.h"

using namespace tavrolin;
using Json = nlohmann::ordered_json;

namespace {

// A model server on 127.0.0.1: answers each path with a canned body, or never answers paths
// without one; records the body of every request and tells `onRequest`. Lives on the test's thread,
// whose event loop the blocking client runs while it waits.
class FakeModelServer : public QObject {
  public:
    FakeModelServer() {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }

    std::map<QByteArray, std::pair<int, QByteArray>> replies;  // path -> status, body
    std::vector<QByteArray> bodies;
    std::function<void()> onRequest;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
    void answerChat(const Json& content) {
        const Json envelope{{"choices", {{{"message", {{"content", content.dump()}}}}}}};
        replies["/v1/chat/completions"] = {200, QByteArray::fromStdString(envelope.dump())};
    }

  private:
    void read(QTcpSocket* socket) {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const auto headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            return;
        }
        const QByteArray head = buffer.left(headerEnd).toLower();
        const auto lengthAt = head.indexOf("content-length:");
        const int length =
            lengthAt < 0 ? 0 : head.mid(lengthAt + 15).split('\r')[0].trimmed().toInt();
        if (buffer.size() < headerEnd + 4 + length) {
            return;
        }
        bodies.push_back(buffer.mid(headerEnd + 4, length));
        if (onRequest) {
            onRequest();
        }
        const auto reply = replies.find(buffer.split(' ').value(1));
        buffer.clear();
        if (reply == replies.end()) {
            return;  // never answers
        }
        socket->write("HTTP/1.1 " + QByteArray::number(reply->second.first) +
                      " X\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(reply->second.second.size()) +
                      "\r\nConnection: close\r\n\r\n" + reply->second.second);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

LanguageModelServerSettings settingsFor(const FakeModelServer& server) {
    return {server.url(), "tiny-planner"};
}

std::string failure(LanguageModelRemuxIntentParser& parser, const std::string& text) {
    try {
        parser.parse(text, {});
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<parsed>";
}

}  // namespace

TEST(LocalServerLanguageModelTest, SettingsAcceptOnlyThisComputer) {
    struct Row {
        const char* url;
        std::optional<std::string> base;
    };
    const std::vector<Row> rows{
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"http://localhost:11434/v1/", "http://localhost:11434"},
        {"http://[::1]:9000/", "http://[::1]:9000"},
        {"http://localhost", "http://localhost"},
        {"https://127.0.0.1:8080", std::nullopt},
        {"http://localhost.example.com:8080", std::nullopt},
        {"http://127.0.0.1.example.com", std::nullopt},
        {"http://user@127.0.0.1:80@example.com", std::nullopt},
        {"http://192.168.1.4:8080", std::nullopt},
        {"ftp://localhost", std::nullopt},
        {"http://localhost:99999", std::nullopt},
        {"http://127.0.0.1:0/v1", std::nullopt},
        {"http://127.0.0.1:80a", std::nullopt},
        {"http://[::1]:/", std::nullopt},
        {"http://127.0.0.1:00065535/v1", "http://127.0.0.1:00065535"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(LanguageModelServerSettings::loopbackBaseURL(row.url), row.base);
    }
    InMemoryPreferencesStore preferences;
    std::map<std::string, std::string> environment{{"TAVROLIN_LANGUAGE_MODEL", "env-model"}};
    const auto lookup = [&](const char* name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        return found == environment.end() ? std::nullopt : std::optional(found->second);
    };
    EXPECT_EQ(LanguageModelServerSettings::read(preferences, lookup), std::nullopt);
    environment["TAVROLIN_LANGUAGE_MODEL_URL"] = "http://localhost:1/";
    EXPECT_EQ(LanguageModelServerSettings::read(preferences, lookup),
              (LanguageModelServerSettings{"http://localhost:1", "env-model"}));
    preferences.setString("languageModel.url", "http://10.0.0.1:1");
    EXPECT_EQ(LanguageModelServerSettings::read(preferences, lookup), std::nullopt);
    preferences.setString("languageModel.url", " http://[::1]:2 ");
    preferences.setString("languageModel.model", "set-model");
    EXPECT_EQ(LanguageModelServerSettings::read(preferences, lookup),
              (LanguageModelServerSettings{"http://[::1]:2", "set-model"}));
}

TEST(LocalServerLanguageModelTest, AvailabilityAndTypedRequestToDraftEndToEnd) {
    using Reason = LanguageModelAvailability::Reason;
    tavtest::qtApplication();
    FakeModelServer server;
    EXPECT_EQ(LocalServerLanguageModel(std::nullopt).availability().reason,
              Reason::deviceNotEligible);
    // Not listed yet, then a server that does not answer within the check's time.
    server.replies["/v1/models"] = {200, R"({"data":[{"id":"other"}]})"};
    EXPECT_EQ(LocalServerLanguageModel(settingsFor(server)).availability().reason,
              Reason::modelNotReady);
    server.replies.erase("/v1/models");
    EXPECT_EQ(LocalServerLanguageModel(settingsFor(server), std::chrono::milliseconds(200))
                  .availability()
                  .reason,
              Reason::modelNotReady);
    server.replies["/v1/models"] = {200, R"({"object":"list","data":[{"id":"tiny-planner"}]})"};

    server.answerChat(Json::parse(R"({"container": "mp4", "playback": "unchanged",
        "videoOperations": [], "subtitleOperations": [],
        "audioOperations": [{"type": "retainOnly",
            "predicate": {"conditions": [{"type": "language", "value": "French"}],
                          "matchMode": "all"},
            "cardinality": "all", "ranking": "sourceOrder",
            "fallback": "preserveCurrentAndWarn"}]})"));
    LanguageModelRemuxIntentParser parser(
        std::make_shared<LocalServerLanguageModel>(settingsFor(server)));
    ASSERT_TRUE(parser.availability().isAvailable);
    // On a worker thread, as the workspace runs it; this thread serves the fake server.
    auto parsed = std::async(std::launch::async,
                             [&] { return parser.parse("  only French audio, as MP4\n", {}); });
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return parsed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const auto plan = parsed.get();

    ASSERT_EQ(server.bodies.size(), 4u);  // three availability checks, one request
    const Json request = Json::parse(server.bodies.back().toStdString());
    EXPECT_EQ(request["model"], "tiny-planner");
    EXPECT_EQ(request["messages"][0]["role"], "system");
    EXPECT_EQ(request["messages"][0]["content"].get<std::string>().rfind(
                  RemuxPlanVocabulary::instructions(), 0),
              0u);
    EXPECT_EQ(request["messages"][1],
              (Json{{"role", "user"}, {"content", "User request: only French audio, as MP4"}}));
    EXPECT_EQ(request["response_format"]["type"], "json_schema");
    EXPECT_EQ(request["response_format"]["json_schema"]["schema"], remuxPlanOutputSchema());

    // Probed: 0 H.264, 1 AAC eng, 2 AC-3 fre "Commentary", 3 SubRip eng, 4 ASS jpn.
    const auto file = tavtest::TestMedia::shared().matroska;
    const auto streams =
        FFprobeService(std::make_shared<FoundationProcessRunner>(), ToolLocations{})
            .inspectStreams(file);
    const std::vector<RemuxSource> sources{{file, RemuxSource::Ready{streams}, {0, 1, 2, 3, 4}}};
    const auto draft =
        RemuxIntentResolver().resolve("typed", plan, sources, std::nullopt, std::nullopt);
    EXPECT_EQ(draft.container, OutputContainer::mp4);
    EXPECT_EQ(draft.interpretedPlan,
              std::vector<std::string>{"Keep only the French audio tracks."});
    EXPECT_EQ(draft.changes, (std::vector<std::string>{
                                 "Use the MP4 container.",
                                 file.filename().string() + ": keep 1 French audio track."}));
    EXPECT_EQ(draft.selectedStreamIndicesBySource.at(file), (std::set<std::int64_t>{0, 2, 3, 4}));
}

TEST(LocalServerLanguageModelTest, StopsAndBadAnswers) {
    tavtest::qtApplication();
    FakeModelServer server;
    server.replies["/v1/models"] = {200, R"({"data":[{"id":"tiny-planner"}]})"};
    auto model = std::make_shared<LocalServerLanguageModel>(settingsFor(server));

    // No chat reply: only the stop, asked once the server has the request, ends it; without
    // the stop the 120 s timeout would, with another error.
    std::stop_source stop;
    server.onRequest = [&] { stop.request_stop(); };
    EXPECT_THROW(model->respond({"i", "p", std::nullopt}, stop.get_token()), CancellationError);
    server.onRequest = nullptr;

    LanguageModelRemuxIntentParser parser(model);
    const std::string address = server.url();
    struct Row {
        const char* name;
        int status;
        QByteArray body;
        std::string message;
    };
    const std::vector<Row> rows{
        {"content that is not JSON", 200,
         R"({"choices":[{"message":{"content":"Sure!\u0007 Here is\nyour plan."}}]})",
         "The model at " + address +
             " answered with text that is not JSON (\u201CSure! Here is your plan.\u201D). Try "
             "again, or choose a model in Settings that can answer in JSON."},
        {"reply that is not JSON", 200, "<html>",
         LocalServerLanguageModel::noAnswerMessage(address)},
        {"reply without choices", 200, R"({"error":"busy"})",
         LocalServerLanguageModel::noAnswerMessage(address)},
        {"JSON that breaks the schema", 200,
         R"({"choices":[{"message":{"content":"{\"container\":\"avi\"}"}}]})",
         "The model's answer did not fit the plan format: \u201Cavi\u201D is not a known "
         "container. Try again, or word the request differently."},
        {"server error", 500, "{}", LocalServerLanguageModel::statusMessage(address, 500)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.replies["/v1/chat/completions"] = {row.status, row.body};
        EXPECT_EQ(failure(parser, "x"), row.message);
    }
    // A port that nothing listens on any more.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const std::string refusedAddress = "http://127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();
    LanguageModelRemuxIntentParser refused(
        std::make_shared<LocalServerLanguageModel>(
            LanguageModelServerSettings{refusedAddress, "m"}),
        LanguageModelAvailability{LanguageModelAvailability::Reason::available});
    EXPECT_EQ(failure(refused, "x"),
              LocalServerLanguageModel::unreachableMessage(refusedAddress, "Connection refused"));
    const auto timedOut = std::make_shared<LocalServerLanguageModel>(
        settingsFor(server), std::chrono::seconds(2), std::chrono::milliseconds(200));
    server.replies.erase("/v1/chat/completions");
    try {
        timedOut->respond({"i", "p", std::nullopt}, {});
        ADD_FAILURE() << "no timeout";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.errorCase(), LanguageModelError::Case::timedOut);
    }
}
