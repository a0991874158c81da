#include "httpFront.h"

#include <fstream>

namespace tonvert::service {

namespace {

const char* const kScript = "/cgi-bin/wmn.pl";

std::string hostOf(const httplib::Request& request) {
    const std::string host = request.get_header_value("Host");
    return host.empty() ? "tonvert.localhost:8080" : host;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body style=\"font-family: sans-serif; max-width: 40em; margin: 2em "
           "auto\">\n<h1>" +
           title + "</h1>\n" + body + "\n</body></html>\n";
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

void installRoutes(httplib::Server& server, Commands& commands, Store& store,
                   const ServiceConfig& config) {
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

    server.Get("/", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(
            page("Tonvert",
                 "<p>This is the Tonvert rendering service. It turns MIDI files into audio files "
                 "(MP3, OGG Vorbis, WMA and WAV) for the users of the Tonvert program: upload a "
                 "MIDI file with a format and a quality preset, and download the audio file when "
                 "it is rendered.</p>\n<p>Uploads and downloads are paid from your balance. <a "
                 "href=\"/addfunds.html\">Add funds</a>.</p>\n<p>Service address: " +
                     escapeHtml(hostOf(request)) + "</p>"),
            "text/html; charset=utf-8");
    });

    const auto fundsForm = [](const std::string& note) {
        return page("Add funds",
                    note + "<form method=\"post\" action=\"/addfunds.html\">\n"
                           "<p><label>User ID (your e-mail address): <input name=\"uid\" "
                           "size=\"40\"></label></p>\n<p><label>Amount: <input name=\"amount\" "
                           "value=\"10.00\" size=\"8\"></label></p>\n<p><button>Pay</button></p>\n"
                           "</form>\n<p>This page stands in for a payment provider: the amount is "
                           "credited at once.</p>");
    };
    server.Get("/addfunds.html", [fundsForm](const httplib::Request&, httplib::Response& response) {
        response.set_content(fundsForm(""), "text/html; charset=utf-8");
    });
    server.Post("/addfunds.html", [&store, fundsForm](const httplib::Request& request,
                                                      httplib::Response& response) {
        const std::string userId = request.get_param_value("uid");
        const std::string amountText = request.get_param_value("amount");
        char* end = nullptr;
        const double amount = std::strtod(amountText.c_str(), &end);
        const bool number = !amountText.empty() && end != nullptr && *end == '\0';
        std::string note;
        if (!number || !(amount > 0) || amount > 1000) {
            note = "<p><b>Give an amount between 0.01 and 1000.</b></p>\n";
        } else {
            std::lock_guard lock(store.lock());
            const auto account = store.account(userId);
            if (!account) {
                note = "<p><b>There is no account " + escapeHtml(userId) + ".</b></p>\n";
            } else {
                const auto cents = static_cast<std::int64_t>(amount * 100 + 0.5);
                store.db().transaction([&] { store.book(account->id, cents, "funds added"); });
                note = "<p><b>" + money(cents) + " added to " + escapeHtml(account->userId) +
                       ".</b></p>\n";
            }
        }
        response.set_content(fundsForm(note), "text/html; charset=utf-8");
    });

    server.Get("/upgrade.html", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(page("Upgrade Tonvert",
                                  "<p>This service speaks version 1.0 of the Tonvert protocol. "
                                  "Install a version of the Tonvert program that speaks it.</p>"),
                             "text/html; charset=utf-8");
    });
}

} // namespace tonvert::service
