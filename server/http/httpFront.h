#pragma once

#include <httplib.h>

#include "protocol/commands.h"

namespace tonvert::service {

// The service on the web: the script every client request goes to, and the pages a browser
// opens (the home page, the page that adds funds, the upgrade page), on the routes of an
// HttpListener before it runs.
void installRoutes(httplib::Server& server, Commands& commands, const ServiceConfig& config);

// While the store does not answer yet: the process answers /healthz, says on /readyz that it
// waits for its store, answers a client request as the protocol does when the store is
// unavailable, and any other page 503.
void installWaitingRoutes(httplib::Server& server);

} // namespace tonvert::service
