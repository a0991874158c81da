#include "http/httpFront.h"

#include <fstream>
#include <iostream>

#include "http/clientAddress.h"
#include "http/httpListener.h"
#include "http/pages.h"
#include "log/log.h"
#include "protocol/requestFields.h"
#include "store/money.h"

namespace tonvert::service {

namespace {

void send(const Reply& reply, httplib::Response& response) {
    if (!reply.file) {
        response.set_content(reply.body, reply.contentType);
        return;
    }
    auto file = reply.file;
    // Delivered when this response wrote as many bytes as the file has: a part (a range), a
    // client that hung up or a service stopped midway never gets there. One response's
    // provider runs on one thread.
    const auto size = static_cast<std::size_t>(reply.fileSize);
    auto sent = std::make_shared<std::size_t>(0);
    response.set_content_provider(
        size, reply.contentType,
        [file, size, sent, delivered = reply.delivered](std::size_t offset, std::size_t length,
                                                        httplib::DataSink& sink) {
            std::vector<char> buffer(std::min<std::size_t>(length, 1 << 16));
            const std::size_t read = file->read(offset, buffer.data(), buffer.size());
            if (read == 0 || !sink.write(buffer.data(), read))
                return false;
            const bool reachesEnd = *sent < size && *sent + read >= size;
            *sent += read;
            if (reachesEnd && delivered)
                delivered();
            return true;
        });
}

void html(httplib::Response& response, const std::string& page, int status) {
    response.status = status;
    response.set_content(page, "text/html; charset=utf-8");
}

// A request larger than the service takes is a file too large (1050). The client sends a body
// whole before it reads the answer, so a body somewhat over the limit is read to its end and
// dropped (by the listener, after this answer) for the client to see the answer. One announced
// far beyond the limit, or announced over it with "Expect: 100-continue", is refused at once,
// unread, and its connection ends.
void installSizeLimit(httplib::Server& server, const ServiceConfig& config) {
    const std::size_t limit = config.maxUploadBytes + (1 << 20);
    const std::uint64_t readAtMost = 4 * std::uint64_t{config.maxUploadBytes};
    server.set_payload_max_length(limit);
    const auto refuse = [](httplib::Response& response) {
        response.status = 413;
        response.set_header("Connection", "close");
        closeConnectionAfterReply();
    };
    server.set_expect_100_continue_handler(
        [limit, refuse](const httplib::Request& request, httplib::Response& response) {
            if (request.get_header_value<std::uint64_t>("Content-Length") <= limit)
                return 100;
            refuse(response);
            return 413;
        });
    server.set_pre_routing_handler(
        [readAtMost, refuse](const httplib::Request& request, httplib::Response& response) {
            if (request.get_header_value<std::uint64_t>("Content-Length") <= readAtMost)
                return httplib::Server::HandlerResponse::Unhandled;
            refuse(response);
            return httplib::Server::HandlerResponse::Handled;
        });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 413)
            response.set_content("!ERR 1050", "text/plain");
    });
}

std::string clientOf(const httplib::Request& request) {
    return clientAddress(request.remote_addr, request.get_header_value("X-Real-IP"));
}

// The script every request of the client goes to.
void installScript(httplib::Server& server, Commands& commands, const ServiceConfig& config) {
    const std::string host = config.publicHost;
    server.Get(kScriptPath, [&commands, host](const httplib::Request& request,
                                              httplib::Response& response) {
        send(commands.handle(queryFields(request.params), std::nullopt, host, clientOf(request)),
             response);
    });

    server.Post(kScriptPath, [&commands, host](const httplib::Request& request,
                                               httplib::Response& response) {
        const UploadFields read = uploadFields(request.files);
        send(commands.handle(read.fields, read.upload, host, clientOf(request)), response);
    });

    installSizeLimit(server, config);
}

// The page that adds funds, with its one-time form tokens and its receipts.
void installFundsPage(httplib::Server& server, Commands& commands, const ServiceConfig& config) {
    // Every form carries a fresh one-time token. A normal visit revalidates, so it gets a new
    // one; Back shows the copy already sent, whose token books nothing again.
    const std::int64_t maxCents = config.maxFundsPerPayment;
    const auto fundsHtml = [&commands, maxCents](httplib::Response& response, FundsForm form,
                                                 int status) {
        form.token = commands.issueFormToken();
        response.set_header("Cache-Control", "private, no-cache");
        html(response, fundsPage(form, maxCents), status);
    };
    // On a failure the form comes without a token: sent, it books nothing.
    const auto unavailable = [maxCents](httplib::Response& response, FundsForm form,
                                        const std::exception& failure) {
        logWarning() << "adding funds failed: " << failure.what();
        form.refusal = "The service cannot add funds just now. Try again later.";
        html(response, fundsPage(form, maxCents), 503);
    };

    // The outcome of a payment, as often as the page is loaded: a receipt books nothing.
    server.Get("/addfunds.html", [&commands, fundsHtml, unavailable](
                                     const httplib::Request& request, httplib::Response& response) {
        FundsForm form;
        int status = 200;
        try {
            if (request.has_param("receipt")) {
                if (const auto receipt = commands.receipt(request.get_param_value("receipt"))) {
                    form.userId = receipt->userId;
                    form.added = money(receipt->amount);
                    form.balance = money(receipt->balance);
                } else {
                    form.note = kUnknownReceiptText;
                    status = 404;
                }
            }
            fundsHtml(response, form, status);
        } catch (const std::exception& failure) {
            unavailable(response, {}, failure);
        }
    });

    // The stand-in for a payment provider: the account's own password, as every command asks
    // for it, and an amount in currency units. Only the body counts: a password in the query
    // would stay in histories and logs. A payment answers with a redirect to its receipt, so
    // reloading the page the browser shows sends nothing again.
    server.Post(
        "/addfunds.html", [&commands, fundsHtml, unavailable,
                           maxCents](const httplib::Request& request, httplib::Response& response) {
            const bool urlEncoded = request.get_header_value("Content-Type")
                                        .rfind("application/x-www-form-urlencoded", 0) == 0;
            const auto fields =
                urlEncoded ? formFields(request.body) : std::map<std::string, std::string>{};
            const auto field = [&fields](const char* name) {
                const auto found = fields.find(name);
                return found == fields.end() ? std::string() : found->second;
            };
            FundsForm form;
            form.userId = field("uid");
            form.amount = field("amount");
            try {
                const Amount amount = readAmount(form.amount, maxCents);
                if (form.userId.empty()) {
                    form.refusal = refusalText(Refusal::unknownUser, "");
                    return fundsHtml(response, form, 400);
                }
                if (amount.check != AmountCheck::good) {
                    form.refusal = refusalText(amount.check, maxCents);
                    return fundsHtml(response, form, 400);
                }
                const std::string from = clientOf(request);
                const Payment payment = commands.addFunds(form.userId, field("password"),
                                                          amount.cents, field("token"), from);
                if (payment.refusal != Refusal::none) {
                    form.refusal = refusalText(payment.refusal, form.userId);
                    return fundsHtml(response, form, 403);
                }
                if (payment.formSpent) {
                    // Sent twice or stale: the amount is not offered again as it was.
                    form.amount.clear();
                    form.refusal = kFormSpentText;
                    return fundsHtml(response, form, 409);
                }
                response.set_redirect("/addfunds.html?receipt=" + payment.receipt, 303);
            } catch (const std::exception& failure) {
                unavailable(response, form, failure);
            }
        });
}

// For the operator's watch: the process answers.
void installHealth(httplib::Server& server) {
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok\n", "text/plain");
    });
}

} // namespace

void installWaitingRoutes(httplib::Server& server) {
    installHealth(server);
    server.Get("/readyz", [](const httplib::Request&, httplib::Response& response) {
        response.status = 503;
        response.set_content("not ready: waiting for the store\n", "text/plain");
    });
    const auto unavailable = [](const httplib::Request&, httplib::Response& response) {
        send(unavailableReply(), response);
    };
    server.Get(kScriptPath, unavailable);
    server.Post(kScriptPath, unavailable);
    server.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
        if (response.status == 404 && request.path != kScriptPath) {
            response.status = 503;
            response.set_content("The service is starting. Try again in a minute.\n", "text/plain");
        }
    });
}

void installRoutes(httplib::Server& server, Commands& commands, const ServiceConfig& config) {
    installScript(server, commands, config);

    server.Get(kStylesheetPath, [](const httplib::Request&, httplib::Response& response) {
        response.set_content(stylesheet(), "text/css; charset=utf-8");
    });

    server.Get("/", [config](const httplib::Request&, httplib::Response& response) {
        html(response, homePage(config, config.publicHost), 200);
    });

    installHealth(server);
    server.Get("/readyz", [&commands](const httplib::Request&, httplib::Response& response) {
        const auto why = commands.notReady();
        response.status = why ? 503 : 200;
        response.set_content(why ? "not ready: " + *why + "\n" : "ready\n", "text/plain");
    });

    server.Get("/upgrade.html", [](const httplib::Request&, httplib::Response& response) {
        html(response, upgradePage(), 200);
    });

    installFundsPage(server, commands, config);
}

} // namespace tonvert::service
