#include "planning/LocalServerLanguageModel.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "model/CancellationError.h"
#include "planning/ModelServerReply.h"
#include "planning/RemuxPlanVocabulary.h"
#include "planning/ReplyInflater.h"

namespace tavrolin {

const char* const LocalServerLanguageModel::notConfiguredMessage =
    "No local model server is set. Enter its address and model name in Settings.";

std::string LocalServerLanguageModel::unreachableMessage(const std::string& address,
                                                         const std::string& reason) {
    return "The model server at " + address + " could not be reached (" +
           RemuxPlanVocabulary::readableExcerpt(reason, 80) + "). Start the model server at " +
           address + ", or change its address in Settings.";
}

std::string LocalServerLanguageModel::noAnswerMessage(const std::string& address) {
    return "The model server at " + address +
           " sent a reply without an answer. Check that it serves the OpenAI-compatible chat "
           "API, or change its address in Settings.";
}

std::string LocalServerLanguageModel::notJSONMessage(const std::string& address,
                                                     const std::string& answer) {
    return "The model at " + address + " answered with text that is not JSON (\u201C" +
           RemuxPlanVocabulary::readableExcerpt(answer) +
           "\u201D). Try again, or choose a model in Settings that can answer in JSON.";
}

std::string LocalServerLanguageModel::statusMessage(const std::string& address, int status) {
    return "The model server at " + address + " answered with HTTP status " +
           std::to_string(status) +
           ". Check that it runs the model named in Settings, or change its address there.";
}

std::string LocalServerLanguageModel::cutShortMessage(const std::string& address) {
    return "The model server at " + address +
           " ended its reply before the length it announced. Try again, or restart the model "
           "server.";
}

namespace {

using Json = nlohmann::ordered_json;

std::string_view bytes(const QByteArray& data) {
    return {data.constData(), static_cast<std::size_t>(data.size())};
}

struct Exchange {
    bool finished = false;
    bool tooLarge = false;
    // The body ended before its announced length, or its compressed stream before its end.
    bool cutShort = false;
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    std::string body;  // inflated
};

// One HTTP exchange on this thread's own event loop; ends on the reply, the timeout, the stop,
// or as soon as the body passes `byteLimit`: a declared length is refused before the body
// comes, and the body is read (and inflated, when compressed) as it arrives, so no more than the
// limit plus one small buffer is ever held. Qt would inflate a compressed body whole before
// handing it on, so the request asks for the encodings itself, which leaves them to this read.
Exchange exchange(const QUrl& url, const std::optional<QByteArray>& postBody,
                  std::chrono::milliseconds timeout, std::int64_t byteLimit,
                  const std::stop_token& stop) {
    QNetworkAccessManager manager;
    // The server is on this computer; a configured proxy must never see the request.
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Accept-Encoding", "gzip, deflate");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(postBody ? manager.post(request, *postBody)
                                                  : manager.get(request));
    // Without a bound, Qt's network thread buffers the whole body however fast it comes.
    reply->setReadBufferSize(64 * 1024);
    Exchange result;
    std::optional<ReplyInflater> inflater;
    std::int64_t received = 0;
    QEventLoop loop;
    const auto overLimit = [&] {
        result.tooLarge = true;
        loop.quit();
    };
    const auto take = [&] {
        const QByteArray piece = reply->readAll();
        received += piece.size();
        if (!inflater) {
            inflater.emplace(reply->rawHeader("Content-Encoding").trimmed().toStdString(),
                             byteLimit);
        }
        return inflater->feed(bytes(piece), result.body);
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > byteLimit) {
            overLimit();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        if (!result.tooLarge && take() == ReplyInflater::State::tooLarge) {
            overLimit();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeout);
    {
        std::stop_callback onStop(stop, [&loop] {
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        if (!stop.stop_requested() && !reply->isFinished()) {
            loop.exec();
        }
    }
    if (result.tooLarge || !reply->isFinished()) {
        reply->disconnect(&loop);
        reply->abort();
        result.body.clear();
        return result;
    }
    result.finished = true;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    result.errorText = reply->errorString();
    const ReplyInflater::State state = take();
    result.tooLarge = state == ReplyInflater::State::tooLarge;
    if (state == ReplyInflater::State::unreadable) {
        result.body.clear();  // read as a reply without an answer
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    result.cutShort = (length.isValid() && received < length.toLongLong()) ||
                      (state == ReplyInflater::State::reading && !inflater->isComplete());
    return result;
}

QUrl endpoint(const LanguageModelServerSettings& settings, const char* path) {
    return QUrl(QString::fromStdString(settings.baseURL) + QLatin1String(path));
}

QByteArray chatBody(const LanguageModelServerSettings& settings,
                    const LanguageModelRequest& request) {
    std::string system = request.instructions;
    Json body{{"model", settings.model}, {"stream", false}};
    if (request.outputSchema) {
        // The grammar constrains the shape; the descriptions in the schema steer the content.
        system += "\n\nAnswer with one JSON object that follows this JSON Schema:\n" +
                  request.outputSchema->dump();
        const auto title = request.outputSchema->find("title");
        body["response_format"] =
            Json{{"type", "json_schema"},
                 {"json_schema",
                  {{"name", title != request.outputSchema->end() && title->is_string()
                                ? title->get<std::string>()
                                : std::string("response")},
                   {"schema", *request.outputSchema}}}};
    }
    body["messages"] = Json::array({Json{{"role", "system"}, {"content", system}},
                                    Json{{"role", "user"}, {"content", request.prompt}}});
    const std::string text = body.dump();
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

[[noreturn]] void fail(LanguageModelError::Case errorCase, const std::string& message) {
    throw LanguageModelError(errorCase, message);
}

}  // namespace

LocalServerLanguageModel::LocalServerLanguageModel(
    std::optional<LanguageModelServerSettings> settings,
    std::chrono::milliseconds availabilityTimeout, std::chrono::milliseconds requestTimeout)
    : settings_(std::move(settings)),
      availabilityTimeout_(availabilityTimeout),
      requestTimeout_(requestTimeout) {}

LocalServerLanguageModel::ServerCheck LocalServerLanguageModel::check(
    const LanguageModelServerSettings& settings, std::chrono::milliseconds timeout,
    std::stop_token stop) {
    using Answer = ServerCheck::Answer;
    const Exchange reply = exchange(endpoint(settings, "/v1/models"), std::nullopt, timeout,
                                    ModelServerReply::modelsByteLimit, std::move(stop));
    if (reply.tooLarge) {
        return {Answer::unreadable,
                ModelServerReplyError::tooLarge(settings.baseURL, ModelServerReply::modelsByteLimit)
                    .what()};
    }
    if (!reply.finished || reply.status == 0) {
        return {Answer::noAnswer, {}};
    }
    if (reply.cutShort) {
        return {Answer::unreadable, cutShortMessage(settings.baseURL)};
    }
    try {
        const bool lists = reply.status == 200 && ModelServerReply::listsModel(
                                                      reply.body, settings.model, settings.baseURL);
        return {lists ? Answer::listsModel : Answer::lacksModel, {}};
    } catch (const ModelServerReplyError& error) {
        return {Answer::unreadable, error.what()};
    }
}

LanguageModelAvailability LocalServerLanguageModel::availability() {
    using Reason = LanguageModelAvailability::Reason;
    if (!settings_) {
        return {Reason::deviceNotEligible};
    }
    return {check(*settings_, availabilityTimeout_, {}).answer == ServerCheck::Answer::listsModel
                ? Reason::available
                : Reason::modelNotReady};
}

nlohmann::ordered_json LocalServerLanguageModel::respond(const LanguageModelRequest& request,
                                                         std::stop_token stop) {
    if (!settings_) {
        fail(LanguageModelError::Case::unavailable, notConfiguredMessage);
    }
    const std::string& address = settings_->baseURL;
    Exchange reply =
        exchange(endpoint(*settings_, "/v1/chat/completions"), chatBody(*settings_, request),
                 requestTimeout_, ModelServerReply::chatByteLimit, stop);
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    if (reply.tooLarge) {
        throw ModelServerReplyError::tooLarge(address, ModelServerReply::chatByteLimit);
    }
    if (!reply.finished) {
        fail(LanguageModelError::Case::timedOut,
             "The model server at " + address + " did not answer within " +
                 std::to_string(requestTimeout_.count() / 1000) +
                 " seconds. Try again, or choose a smaller model in Settings.");
    }
    if (reply.status == 0) {
        fail(LanguageModelError::Case::requestFailed,
             unreachableMessage(address, reply.errorText.toStdString()));
    }
    if (reply.status != 200) {
        fail(LanguageModelError::Case::requestFailed, statusMessage(address, reply.status));
    }
    // What came may still be whole JSON, but not the whole answer.
    if (reply.cutShort) {
        fail(LanguageModelError::Case::requestFailed, cutShortMessage(address));
    }
    // The chat reply wraps the answer's text; that text must itself be JSON.
    const auto text = ModelServerReply::chatContent(reply.body, address);
    reply.body = std::string();
    if (!text) {
        fail(LanguageModelError::Case::decodingFailure, noAnswerMessage(address));
    }
    auto answer = ModelServerReply::answer(*text, address);
    if (!answer) {
        fail(LanguageModelError::Case::decodingFailure, notJSONMessage(address, *text));
    }
    return std::move(*answer);
}

}  // namespace tavrolin
