#include "planning/LocalServerLanguageModel.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <functional>
#include <future>

#include "model/CancellationError.h"
#include "planning/LanguageModelRemuxIntentParser.h"
#include "planning/ModelServerReply.h"
#include "planning/RemuxIntentResolver.h"
#include "planning/RemuxPlanVocabulary.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "support/QtTestApplication.h"
#include "support/TestMedia.h"
#include "transcription/LanguageModelConversationSummarizer.h"

using namespace tavrolin;
using Json = nlohmann::ordered_json;

namespace {

// A model server on 127.0.0.1: answers each path with a canned reply, or never answers paths
// without one; records the body of every request and tells `onRequest`. A reply may be padded
// with spaces to any size, made as it is sent and written only as fast as the client takes it,
// so `sent` tells how far the client read. Lives on the test's thread, whose event loop the
// blocking client runs while it waits.
class FakeModelServer : public QObject {
  public:
    struct Reply {
        int status = 200;
        QByteArray body;
        qint64 size = 0;           // the body is padded with spaces to this size
        bool chunked = false;      // sent in chunks, without a length
        qint64 fastBytes = 0;      // when set, the rest is sent slowly
        QByteArray encoding = {};  // a Content-Encoding the body is already in
        qint64 declared = 0;       // when set, the Content-Length announced instead of the size
    };

    FakeModelServer() {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                // A small kernel buffer keeps the client's window small too, so what was sent
                // is close to what the client read.
                socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }

    std::map<QByteArray, Reply> replies;  // by path
    std::vector<QByteArray> bodies;
    std::function<void()> onRequest;
    // Of the latest reply: the bytes the connection took, and whether it is closed.
    qint64 sent = 0;
    bool closed = false;

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
        if (reply != replies.end()) {
            send(socket, reply->second);
        }
    }

    void send(QTcpSocket* socket, const Reply& reply) {
        const qint64 size = std::max<qint64>(reply.size, reply.body.size());
        sent = 0;
        closed = false;
        connect(socket, &QTcpSocket::bytesWritten, this, [this](qint64 bytes) { sent += bytes; });
        connect(socket, &QTcpSocket::disconnected, this, [this] { closed = true; });
        connect(socket, &QTcpSocket::errorOccurred, this, [this] { closed = true; });
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status) +
                      " X\r\nContent-Type: application/json\r\n" +
                      (reply.encoding.isEmpty() ? QByteArray()
                                                : "Content-Encoding: " + reply.encoding + "\r\n") +
                      (reply.chunked
                           ? QByteArray("Transfer-Encoding: chunked")
                           : "Content-Length: " +
                                 QByteArray::number(reply.declared > 0 ? reply.declared : size)) +
                      "\r\nConnection: close\r\n\r\n");
        // Written a piece at a time as the client takes it; past `fastBytes`, one piece per
        // 20 ms, so that whatever the client reads past that point shows in `sent`.
        const qint64 fastBytes = reply.fastBytes > 0 ? reply.fastBytes : size;
        auto offset = std::make_shared<qint64>(0);
        const auto more = [socket, reply, size, fastBytes, offset](bool tick) {
            bool dripped = false;
            while (*offset < size && socket->bytesToWrite() < 256 * 1024 &&
                   socket->state() == QAbstractSocket::ConnectedState &&
                   (*offset < fastBytes || (tick && !std::exchange(dripped, true)))) {
                QByteArray piece = reply.body.mid(*offset, 64 * 1024);
                piece +=
                    QByteArray(std::min<qint64>(64 * 1024, size - *offset) - piece.size(), ' ');
                *offset += piece.size();
                socket->write(reply.chunked
                                  ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                  : piece);
                if (*offset == size) {
                    socket->write(reply.chunked ? "0\r\n\r\n" : "");
                    socket->disconnectFromHost();
                }
            }
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, [more] { more(false); });
        auto* drip = new QTimer(socket);
        connect(drip, &QTimer::timeout, socket, [more] { more(true); });
        drip->start(20);
        more(false);
        if (size == 0) {
            socket->disconnectFromHost();
        }
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
        {"a NUL inside a language, which the draft would show as another", 200,
         QByteArray::fromStdString(Json{
             {"choices",
              {{{"message",
                 {{"content",
                   Json{{"container", "unchanged"},
                        {"playback", "unchanged"},
                        {"videoOperations", Json::array()},
                        {"subtitleOperations", Json::array()},
                        {"audioOperations",
                         {{{"type", "retainOnly"},
                           {"predicate",
                            {{"conditions",
                              {{{"type", "language"}, {"value", std::string("English\0", 8)}}}},
                             {"matchMode", "all"}}},
                           {"cardinality", "all"},
                           {"ranking", "sourceOrder"},
                           {"fallback", "preserveCurrentAndWarn"}}}}}
                       .dump()}}}}}}}.dump()),
         RemuxPlanVocabulary::controlCharactersMessage("value",
                                                       RemuxPlanVocabulary::conditionTypeName)},
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

TEST(LocalServerLanguageModelTest, RepliesPastTheLimitsAreRefusedAndNotReadOn) {
    tavtest::qtApplication();
    FakeModelServer server;
    const std::string address = server.url();
    server.replies["/v1/models"] = {200, R"({"data":[{"id":"tiny-planner"}]})"};
    auto model = std::make_shared<LocalServerLanguageModel>(settingsFor(server));
    const LanguageModelRemuxIntentParser parser(
        model, LanguageModelAvailability{LanguageModelAvailability::Reason::available});
    LanguageModelConversationSummarizer summarizer(model);

    const auto unreadable = [&](const std::string& why) {
        return "The model server at " + address + " sent an answer Tavrolin can't read (" + why +
               ").";
    };
    const auto envelope = [](const std::string& beside, const std::string& content) {
        return QByteArray::fromStdString("{" + beside + R"("choices":[{"message":{"content":)" +
                                         Json(content).dump() + "}}]}");
    };
    const auto nested = [](std::size_t levels, const std::string& inside = "") {
        return std::string(levels, '[') + inside + std::string(levels, ']');
    };
    const std::string plan = R"({"container":"mp4","playback":"unchanged","videoOperations":[],)"
                             R"("audioOperations":[],"subtitleOperations":[]})";
    const QByteArray list = R"({"data":[{"id":"tiny-planner"}]})";
    const qint64 chatLimit = ModelServerReply::chatByteLimit;
    const qint64 modelsLimit = ModelServerReply::modelsByteLimit;
    const qint64 fiftyMB = 50 * 1024 * 1024;
    std::string manyValues = "[0";  // 10,002 values with the list
    for (int value = 0; value < 10000; ++value) {
        manyValues += ",0";
    }
    manyValues += "]";
    // Compressed by the real gzip, as a server would send it.
    const auto gzipped = [](const QByteArray& body) {
        QProcess gzip;
        gzip.start(QStringLiteral("gzip"), {QStringLiteral("-c")});
        gzip.write(body);
        gzip.closeWriteChannel();
        EXPECT_TRUE(gzip.waitForFinished(-1));
        EXPECT_EQ(gzip.exitCode(), 0);
        return gzip.readAllStandardOutput();
    };
    const auto padded = [](QByteArray body, qint64 size) {
        return body + QByteArray(size - body.size(), ' ');
    };
    const QByteArray planReply = envelope("", plan);
    enum class Ask { plan, summary, models };
    struct Row {
        const char* name;
        Ask ask;
        FakeModelServer::Reply reply;
        std::string outcome;
    };
    const std::vector<Row> rows{
        {"deep answer",
         Ask::plan,
         {200, envelope("", nested(60000))},
         unreadable("nested too deeply")},
        {"deep envelope",
         Ask::plan,
         {200, envelope(R"("x":)" + nested(60000) + ",", plan)},
         unreadable("nested too deeply")},
        {"answer 64 levels deep is read",
         Ask::plan,
         {200, envelope("", nested(64))},
         RemuxPlanVocabulary::wrongKindMessage("", RemuxPlanVocabulary::planTypeName, "an object")},
        {"answer 65 levels deep",
         Ask::plan,
         {200, envelope("", nested(65))},
         unreadable("nested too deeply")},
        {"answer with too many values",
         Ask::plan,
         {200, envelope("", manyValues)},
         unreadable("more than 10000 values")},
        {"deep summary",
         Ask::summary,
         {200, envelope("", nested(60000, "{}"))},
         unreadable("nested too deeply")},
        {"deep models list",
         Ask::models,
         {200, QByteArray::fromStdString(R"({"data":[{"id":"tiny-planner"}],"x":)" + nested(60000) +
                                         "}")},
         unreadable("nested too deeply")},
        {"chat reply of the limit", Ask::plan, {200, envelope("", plan), chatLimit}, "<parsed>"},
        {"chat reply one byte over",
         Ask::plan,
         {200, envelope("", plan), chatLimit + 1},
         unreadable("larger than 4 MB")},
        {"chat reply of 50 MB in chunks",
         Ask::plan,
         {200, envelope("", plan), fiftyMB, true},
         unreadable("larger than 4 MB")},
        {"models list of the limit in chunks",
         Ask::models,
         {200, list, modelsLimit, true},
         "<lists>"},
        {"models list one byte over in chunks",
         Ask::models,
         {200, list, modelsLimit + 1, true},
         unreadable("larger than 1 MB")},
        {"models list of 50 MB", Ask::models, {200, list, fiftyMB}, unreadable("larger than 1 MB")},
        {"gzip chat reply that inflates within the limit",
         Ask::plan,
         {200, gzipped(padded(planReply, chatLimit)), 0, false, 0, "gzip"},
         "<parsed>"},
        {"gzip chat reply that inflates past the limit",
         Ask::plan,
         {200, gzipped(padded(planReply, fiftyMB)), 0, false, 0, "gzip"},
         unreadable("larger than 4 MB")},
        {"gzip models list that inflates past the limit",
         Ask::models,
         {200, gzipped(padded(list, fiftyMB)), 0, false, 0, "gzip"},
         unreadable("larger than 1 MB")},
        {"gzip chat reply whose stream stops before its end",
         Ask::plan,
         {200, gzipped(planReply).chopped(8), 0, false, 0, "gzip"},
         LocalServerLanguageModel::cutShortMessage(address)},
        {"chat reply shorter than its length, though complete JSON",
         Ask::plan,
         {200, planReply, 0, false, 0, {}, planReply.size() + 100},
         LocalServerLanguageModel::cutShortMessage(address)},
        {"models list shorter than its length",
         Ask::models,
         {200, list, 0, false, 0, {}, list.size() + 1},
         LocalServerLanguageModel::cutShortMessage(address)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray path = row.ask == Ask::models ? "/v1/models" : "/v1/chat/completions";
        // What the client reads past its limit comes slowly, so it shows in what was sent.
        const qint64 limit = row.ask == Ask::models ? modelsLimit : chatLimit;
        server.replies[path] = row.reply;
        server.replies[path].fastBytes = limit;
        // On a worker thread, as the pages run it; this thread serves the fake server.
        auto outcome = std::async(std::launch::async, [&]() -> std::string {
            try {
                switch (row.ask) {
                    case Ask::plan:
                        parser.parse("x", {});
                        return "<parsed>";
                    case Ask::summary:
                        return summarizer.summarize({1, 1, 0, 1, {{1, 0, 1, "Hi", {}}}}, {});
                    case Ask::models: {
                        const auto check = LocalServerLanguageModel::check(
                            settingsFor(server), std::chrono::seconds(60), {});
                        return check.answer ==
                                       LocalServerLanguageModel::ServerCheck::Answer::listsModel
                                   ? "<lists>"
                                   : check.problem;
                    }
                }
            } catch (const LanguageModelError& error) {
                return error.what();
            }
            return "";
        });
        ASSERT_TRUE(tavtest::waitUntil(
            [&] { return outcome.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            60000));
        EXPECT_EQ(outcome.get(), row.outcome);
        // A reply past the limit is cut off near it, not read to its end.
        ASSERT_TRUE(tavtest::waitUntil([&] { return server.closed; }, 60000));
        if (row.reply.size > limit) {
            EXPECT_LT(server.sent, limit + 2 * 1024 * 1024);
        }
        server.replies[path] = {200, list};
    }
}
