#include "httpFront.h"

#include <fstream>
#include <iostream>

#include "pages.h"

namespace tonvert::service {

namespace {

const char* const kScript = "/cgi-bin/wmn.pl";

std::string hostOf(const httplib::Request& request) {
    const std::string host = request.get_header_value("Host");
    return host.empty() ? "tonvert.localhost:8080" : host;
}

void send(const Reply& reply, httplib::Response& response) {
    if (!reply.file) {
        response.set_content(reply.body, reply.contentType);
        return;
    }
    auto file = reply.file;
    response.set_content_provider(
        static_cast<std::size_t>(reply.fileSize), reply.contentType,
        [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            std::vector<char> buffer(std::min<std::size_t>(length, 1 << 16));
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            return file->gcount() > 0 &&
                   sink.write(buffer.data(), static_cast<std::size_t>(file->gcount()));
        });
}

} // namespace

void installRoutes(httplib::Server& server, Commands& commands, const ServiceConfig& config) {
    server.Get(kScript, [&commands](const httplib::Request& request, httplib::Response& response) {
        std::map<std::string, std::string> fields;
        for (const auto& [name, value] : request.params)
            fields.emplace(name, value); // the first of a repeated name counts
        send(commands.handle(fields, std::nullopt, hostOf(request)), response);
    });

    server.Post(kScript, [&commands](const httplib::Request& request, httplib::Response& response) {
        std::map<std::string, std::string> fields;
        std::optional<UploadedFile> upload;
        for (const auto& [name, part] : request.files) {
            if (name == "BIN" && !upload)
                upload = UploadedFile{part.filename, part.content};
            else
                fields.emplace(name, part.content);
        }
        send(commands.handle(fields, upload, hostOf(request)), response);
    });

    // A request larger than the service takes is a file too large.
    server.set_payload_max_length(config.maxUploadBytes + (1 << 20));
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 413)
            response.set_content("!ERR 1050", "text/plain");
    });

    const auto html = [](httplib::Response& response, const std::string& page, int status) {
        response.status = status;
        response.set_content(page, "text/html; charset=utf-8");
    };

    server.Get(kStylesheetPath, [](const httplib::Request&, httplib::Response& response) {
        response.set_content(stylesheet(), "text/css; charset=utf-8");
    });

    server.Get("/", [config, html](const httplib::Request& request, httplib::Response& response) {
        html(response, homePage(config, hostOf(request)), 200);
    });

    server.Get("/upgrade.html", [html](const httplib::Request&, httplib::Response& response) {
        html(response, upgradePage(), 200);
    });

    const std::int64_t maxCents = config.maxFundsPerPayment;
    server.Get("/addfunds.html",
               [html, maxCents](const httplib::Request&, httplib::Response& response) {
                   html(response, fundsPage({}, maxCents), 200);
               });

    // The stand-in for a payment provider: the account's own password, as every command asks
    // for it, and an amount in currency units.
    server.Post("/addfunds.html", [&commands, html, maxCents](const httplib::Request& request,
                                                              httplib::Response& response) {
        FundsForm form;
        form.userId = request.get_param_value("uid");
        form.amount = request.get_param_value("amount");
        const std::string password = request.get_param_value("password");
        const Amount amount = readAmount(form.amount, maxCents);
        if (form.userId.empty()) {
            form.refusal = refusalText(Refusal::unknownUser, "");
            return html(response, fundsPage(form, maxCents), 400);
        }
        if (amount.check != AmountCheck::good) {
            form.refusal = refusalText(amount.check, maxCents);
            return html(response, fundsPage(form, maxCents), 400);
        }
        Payment payment;
        try {
            payment = commands.addFunds(form.userId, password, amount.cents);
        } catch (const std::exception& failure) {
            std::clog << "adding funds failed: " << failure.what() << std::endl;
            form.refusal = "The service cannot add funds just now. Try again later.";
            return html(response, fundsPage(form, maxCents), 503);
        }
        if (payment.refusal != Refusal::none) {
            form.refusal = refusalText(payment.refusal, form.userId);
            return html(response, fundsPage(form, maxCents), 403);
        }
        form.amount.clear();
        form.added = money(amount.cents);
        form.balance = money(payment.balance);
        html(response, fundsPage(form, maxCents), 200);
    });
}

} // namespace tonvert::service
