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
#include "planning/RemuxPlanVocabulary.h"

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

namespace {

using Json = nlohmann::ordered_json;

struct Exchange {
    bool finished = false;
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    QByteArray body;
};

// One HTTP exchange on this thread's own event loop; ends on the reply, the timeout or the stop.
Exchange exchange(const QUrl& url, const std::optional<QByteArray>& postBody,
                  std::chrono::milliseconds timeout, const std::stop_token& stop) {
    QNetworkAccessManager manager;
    // The server is on this computer; a configured proxy must never see the request.
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(postBody ? manager.post(request, *postBody)
                                                  : manager.get(request));
    QEventLoop loop;
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
    Exchange result;
    result.finished = reply->isFinished();
    if (!result.finished) {
        reply->abort();
        return result;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    result.errorText = reply->errorString();
    result.body = reply->readAll();
    return result;
}

QUrl endpoint(const LanguageModelServerSettings& settings, const char* path) {
    return QUrl(QString::fromStdString(settings.baseURL) + QLatin1String(path));
}

std::optional<Json> parsed(const QByteArray& body) {
    Json value = Json::parse(body.constBegin(), body.constEnd(), nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

bool listsModel(const Json& reply, const std::string& model) {
    const auto data = reply.find("data");
    if (data == reply.end() || !data->is_array()) {
        return false;
    }
    for (const auto& entry : *data) {
        const auto id = entry.find("id");
        if (entry.is_object() && id != entry.end() && id->is_string() &&
            id->get<std::string>() == model) {
            return true;
        }
    }
    return false;
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
    const Exchange reply =
        exchange(endpoint(settings, "/v1/models"), std::nullopt, timeout, std::move(stop));
    if (!reply.finished || reply.status == 0) {
        return ServerCheck::noAnswer;
    }
    const auto models = reply.status == 200 ? parsed(reply.body) : std::nullopt;
    return models && listsModel(*models, settings.model) ? ServerCheck::listsModel
                                                         : ServerCheck::lacksModel;
}

LanguageModelAvailability LocalServerLanguageModel::availability() {
    using Reason = LanguageModelAvailability::Reason;
    if (!settings_) {
        return {Reason::deviceNotEligible};
    }
    return {check(*settings_, availabilityTimeout_, {}) == ServerCheck::listsModel
                ? Reason::available
                : Reason::modelNotReady};
}

nlohmann::ordered_json LocalServerLanguageModel::respond(const LanguageModelRequest& request,
                                                         std::stop_token stop) {
    if (!settings_) {
        fail(LanguageModelError::Case::unavailable, notConfiguredMessage);
    }
    const Exchange reply = exchange(endpoint(*settings_, "/v1/chat/completions"),
                                    chatBody(*settings_, request), requestTimeout_, stop);
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    const std::string& address = settings_->baseURL;
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
    // The chat reply wraps the answer's text; that text must itself be JSON.
    const auto envelope = parsed(reply.body);
    const std::string* text = nullptr;
    if (envelope && envelope->is_object()) {
        const auto choices = envelope->find("choices");
        if (choices != envelope->end() && choices->is_array() && !choices->empty() &&
            (*choices)[0].is_object()) {
            const auto message = (*choices)[0].find("message");
            if (message != (*choices)[0].end() && message->is_object()) {
                const auto content = message->find("content");
                if (content != message->end() && content->is_string()) {
                    text = &content->get_ref<const std::string&>();
                }
            }
        }
    }
    if (text == nullptr) {
        fail(LanguageModelError::Case::decodingFailure, noAnswerMessage(address));
    }
    const auto answer = parsed(QByteArray(text->data(), static_cast<qsizetype>(text->size())));
    if (!answer) {
        fail(LanguageModelError::Case::decodingFailure, notJSONMessage(address, *text));
    }
    return *answer;
}

}  // namespace tavrolin
